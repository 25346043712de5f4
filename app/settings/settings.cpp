#include "app/settings/settings.h"

#include "app/settings/settings_keys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace vistrale {

std::unique_ptr<Settings> Settings::standard()
{
    return std::make_unique<Settings>(
        std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Vistrale", "Vistrale"));
}

std::unique_ptr<Settings> Settings::atPath(const QString& path)
{
    return std::make_unique<Settings>(std::make_unique<QSettings>(path, QSettings::IniFormat));
}

Settings::Settings(std::unique_ptr<QSettings> store)
    : store(std::move(store))
{
}

bool Settings::contains(const QString& key) const
{
    return store->contains(key);
}

bool Settings::boolValue(const QString& key) const
{
    // INI files give every value back as text: "true"/"false" or a number.
    const QVariant value = store->value(key);
    if (!value.isValid())
        return false;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == "true" || text == "yes")
            return true;
        bool ok = false;
        const double number = text.toDouble(&ok);
        return ok && number != 0.0;
    }
    return value.toBool();
}

qint64 Settings::integer(const QString& key) const
{
    bool ok = false;
    const QVariant value = store->value(key);
    // QVariant rounds a double to the nearest whole number (and turns NaN into the
    // minimum), while a new process reads the same value as text and truncates it: take
    // doubles the text's way, so that a value reads alike before and after a restart.
    const bool fractional = value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
    if (!fractional) {
        const qint64 whole = value.toLongLong(&ok);
        if (ok)
            return whole;
    }
    const double number = value.toDouble(&ok);
    // A number that is not finite or out of range is no integer; it must not fall
    // through to the boolean reading ("nan" would read as true).
    if (ok)
        return std::isfinite(number) && std::abs(number) < 9.0e18 ? static_cast<qint64>(number) : 0;
    return boolValue(key) ? 1 : 0;
}

double Settings::doubleValue(const QString& key) const
{
    bool ok = false;
    const double number = store->value(key).toDouble(&ok);
    if (ok)
        return std::isfinite(number) ? number : 0.0;
    return boolValue(key) ? 1.0 : 0.0;
}

float Settings::floatValue(const QString& key) const
{
    return static_cast<float>(doubleValue(key));
}

std::optional<QString> Settings::text(const QString& key) const
{
    const QVariant value = store->value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QByteArray> Settings::data(const QString& key) const
{
    const QVariant value = store->value(key);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

void Settings::setBool(const QString& key, bool value)
{
    store->setValue(key, value);
}
void Settings::setInteger(const QString& key, qint64 value)
{
    store->setValue(key, value);
}
void Settings::setDouble(const QString& key, double value)
{
    store->setValue(key, value);
}
void Settings::setText(const QString& key, const QString& value)
{
    store->setValue(key, value);
}
void Settings::setData(const QString& key, const QByteArray& value)
{
    store->setValue(key, value);
}
void Settings::remove(const QString& key)
{
    store->remove(key);
}
void Settings::sync()
{
    store->sync();
}

bool Settings::toggle(const QString& key)
{
    if (boolValue(key)) {
        remove(key);
        return false;
    }
    setBool(key, true);
    return true;
}

QString Settings::fileName() const
{
    return store->fileName();
}

QColor defaultBorderColor()
{
    return QColor::fromRgbF(0.396078431372549f, 0.5686274509803921f, 0.9411764705882353f, 1.0f);
}

QByteArray archiveColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    QJsonObject object{{"class", "color"}, {"version", 1}, {"red", rgb.redF()}, {"green", rgb.greenF()},
        {"blue", rgb.blueF()}, {"alpha", rgb.alphaF()}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QColor> unarchiveColor(const QByteArray& data)
{
    if (data.size() > 4096)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value("class").toString() != "color" || object.value("version").toInt() != 1)
        return std::nullopt;
    float components[4];
    const char* names[4] = {"red", "green", "blue", "alpha"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue value = object.value(names[i]);
        if (!value.isDouble())
            return std::nullopt;
        const double component = value.toDouble();
        if (!(component >= 0.0 && component <= 1.0))
            return std::nullopt;
        components[i] = static_cast<float>(component);
    }
    return QColor::fromRgbF(components[0], components[1], components[2], components[3]);
}

QColor borderColorSetting(const Settings& settings)
{
    if (const auto stored = settings.data(keys::CAMERA_BORDER_COLOR))
        if (const auto color = unarchiveColor(*stored))
            return *color;
    return defaultBorderColor();
}

} // namespace vistrale
