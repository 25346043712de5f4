#pragma once

#include <QByteArray>
#include <QColor>
#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

namespace vistrale {

// The user's settings. A missing key reads as false, 0, 0.0 or none; each reader
// applies its own default. Main thread only.
class Settings {
public:
    // The per-user store of the application (~/.config/Vistrale/Vistrale.ini).
    static std::unique_ptr<Settings> standard();
    // A store kept in one INI file (tests, other profiles).
    static std::unique_ptr<Settings> atPath(const QString& path);

    explicit Settings(std::unique_ptr<QSettings> store);

    bool contains(const QString& key) const;
    bool boolValue(const QString& key) const;
    qint64 integer(const QString& key) const;
    double doubleValue(const QString& key) const;
    float floatValue(const QString& key) const;
    // Text values only; none when missing.
    std::optional<QString> text(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setDouble(const QString& key, double value);
    void setText(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);
    void sync();

    // A plain on/off toggle: a true key is removed (so it reads false again), anything
    // else becomes true. Answers the new value.
    bool toggle(const QString& key);

    QString fileName() const;

private:
    std::unique_ptr<QSettings> store;
};

// The default webcam border colour (a light blue).
QColor defaultBorderColor();
// The border colour as stored data: a format of our own, a small JSON object.
QByteArray archiveColor(const QColor& color);
// None when the data is not a valid colour archive.
std::optional<QColor> unarchiveColor(const QByteArray& data);
// The stored "camera-border-color", or the default colour when missing or corrupt.
QColor borderColorSetting(const Settings& settings);

} // namespace vistrale
