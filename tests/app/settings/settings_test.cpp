#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

using namespace vistrale;

namespace {

// A settings file of its own per test. QSettings keeps a file it has read in memory for
// the whole process, so `reopen` reads a copy of the file: what a new process would see.
class SettingsFile : public ::testing::Test {
protected:
    std::unique_ptr<Settings> open() const { return Settings::atPath(path); }
    std::unique_ptr<Settings> reopen(std::unique_ptr<Settings>& settings)
    {
        settings->sync();
        settings.reset();
        const QString copy = dir.filePath(QStringLiteral("Vistrale-%1.conf").arg(++copies));
        QFile::copy(path, copy);
        path = copy;
        return open();
    }
    QByteArray fileContents() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Vistrale.conf"));
    int copies = 0;
};

} // namespace

TEST_F(SettingsFile, ReadsMissingKeysAsFalseZeroAndNone)
{
    auto settings = open();
    EXPECT_FALSE(settings->contains(keys::MIRROR));
    EXPECT_FALSE(settings->boolValue(keys::MIRROR));
    EXPECT_EQ(settings->integer(keys::CAMERA_SHAPE), 0);
    EXPECT_EQ(settings->doubleValue(keys::CAMERA_SIZE), 0.0);
    EXPECT_EQ(settings->floatValue(keys::CAMERA_BORDER_WIDTH), 0.0f);
    EXPECT_FALSE(settings->text(keys::OVERLAY_TEXT));
    EXPECT_FALSE(settings->data(keys::DEFAULT_SHORTCUT));
}

TEST_F(SettingsFile, ReadsEveryKindOfValueBackTypedFromANewStore)
{
    auto settings = open();
    settings->setBool(keys::MIRROR, true);
    settings->setBool(keys::SMART_SCALING, false);
    settings->setInteger(keys::CAMERA_SHAPE, 2);
    settings->setInteger(keys::SPEECH_LINES, -3);
    settings->setDouble(keys::CAMERA_SIZE, -1.0);
    settings->setDouble(keys::CAMERA_BORDER_WIDTH, 12.5);
    settings->setText(keys::OVERLAY_TEXT, QStringLiteral("Hello, «world» = 1; [x]"));
    const QByteArray blob("\x00\x01{\"a\":1}\xff", 11);
    settings->setData(keys::DEFAULT_SHORTCUT, blob);

    settings = reopen(settings);
    EXPECT_TRUE(settings->boolValue(keys::MIRROR));
    EXPECT_TRUE(settings->contains(keys::SMART_SCALING));
    EXPECT_FALSE(settings->boolValue(keys::SMART_SCALING));
    EXPECT_EQ(settings->integer(keys::CAMERA_SHAPE), 2);
    EXPECT_EQ(settings->integer(keys::SPEECH_LINES), -3);
    EXPECT_EQ(settings->doubleValue(keys::CAMERA_SIZE), -1.0);
    EXPECT_EQ(settings->floatValue(keys::CAMERA_BORDER_WIDTH), 12.5f);
    EXPECT_EQ(settings->text(keys::OVERLAY_TEXT), QStringLiteral("Hello, «world» = 1; [x]"));
    EXPECT_EQ(settings->data(keys::DEFAULT_SHORTCUT), blob);
    // Text is not data and data is not text.
    EXPECT_FALSE(settings->data(keys::OVERLAY_TEXT));
    EXPECT_FALSE(settings->text(keys::DEFAULT_SHORTCUT));
}

TEST_F(SettingsFile, ReadsNumbersAndBooleansAcrossKindsAlikeBeforeAndAfterARestart)
{
    auto settings = open();
    settings->setBool(keys::CAMERA, true);
    settings->setDouble(keys::CAMERA_SIZE, 2.75);
    settings->setDouble(keys::CAMERA_CORNER_RADIUS, -6.5);
    settings->setInteger(keys::CAMERA_SHAPE, 3);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "same store" : "new store");
        EXPECT_EQ(settings->integer(keys::CAMERA), 1);
        EXPECT_EQ(settings->doubleValue(keys::CAMERA), 1.0);
        EXPECT_EQ(settings->integer(keys::CAMERA_SIZE), 2);
        EXPECT_EQ(settings->integer(keys::CAMERA_CORNER_RADIUS), -6);
        EXPECT_TRUE(settings->boolValue(keys::CAMERA_SHAPE));
        EXPECT_EQ(settings->doubleValue(keys::CAMERA_SHAPE), 3.0);
        settings = reopen(settings);
    }
}

TEST_F(SettingsFile, ReadsWhatIsNoFiniteNumberAsZero)
{
    auto settings = open();
    const QString texts[] = {"abc", "12abc", "nan", "inf", "-inf", "1e400", "1e300"};
    for (const QString& text : texts)
        settings->setText(text, text);
    settings->setText(QStringLiteral("empty"), QString());
    settings->setDouble(QStringLiteral("not-a-number"), std::numeric_limits<double>::quiet_NaN());
    settings->setDouble(QStringLiteral("infinite"), std::numeric_limits<double>::infinity());
    QStringList keysRead{"empty", "not-a-number", "infinite"};
    for (const QString& text : texts)
        keysRead << text;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "same store" : "new store");
        for (const QString& key : keysRead) {
            EXPECT_EQ(settings->integer(key), 0) << key.toStdString();
            if (key != "1e300") {
                EXPECT_EQ(settings->doubleValue(key), 0.0) << key.toStdString();
            }
        }
        settings = reopen(settings);
    }
}

TEST_F(SettingsFile, TogglingMovOnAndOffAgainLeavesNoMovKeyInTheFile)
{
    auto settings = open();
    EXPECT_TRUE(settings->toggle(keys::MOV));
    settings = reopen(settings);
    EXPECT_TRUE(settings->boolValue(keys::MOV));
    EXPECT_FALSE(settings->toggle(keys::MOV));
    EXPECT_FALSE(settings->contains(keys::MOV));
    settings = reopen(settings);
    EXPECT_FALSE(settings->contains(keys::MOV));
    EXPECT_FALSE(fileContents().contains("mov"));

    // A key stored as false is switched on.
    settings->setBool(keys::SOUND_OFF, false);
    settings = reopen(settings);
    EXPECT_TRUE(settings->toggle(keys::SOUND_OFF));
}

TEST(BorderColor, IsTheLightBlueWhenNothingIsStoredAndSurvivesTheArchiveAndANewStore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Vistrale.conf");
    const QColor color = borderColorSetting(*Settings::atPath(path));
    EXPECT_NEAR(color.redF(), 0.396078431372549, 1e-6);
    EXPECT_NEAR(color.greenF(), 0.5686274509803921, 1e-6);
    EXPECT_NEAR(color.blueF(), 0.9411764705882353, 1e-6);
    EXPECT_EQ(color.alphaF(), 1.0f);

    const QColor chosen = QColor::fromRgbF(0.2f, 0.8f, 0.1f, 0.5f);
    Settings::atPath(path)->setData(keys::CAMERA_BORDER_COLOR, archiveColor(chosen));
    EXPECT_EQ(borderColorSetting(*Settings::atPath(path)).rgba64(), chosen.rgba64());
}

TEST(BorderColor, FallsBackToTheLightBlueForCorruptArchives)
{
    const QByteArray corrupt[] = {
        QByteArray("\x93\x00\xfe\x12garbage", 11),
        "[]",
        "{\"class\":\"color\"",
        R"({"class":"font","version":1,"red":0.1,"green":0.2,"blue":0.3,"alpha":1})",
        R"({"class":"color","version":2,"red":0.1,"green":0.2,"blue":0.3,"alpha":1})",
        R"({"class":"color","version":1,"red":1.5,"green":0.2,"blue":0.3,"alpha":1})",
        R"({"class":"color","version":1,"red":-0.1,"green":0.2,"blue":0.3,"alpha":1})",
        R"({"class":"color","version":1,"red":"0.1","green":0.2,"blue":0.3,"alpha":1})",
        R"({"class":"color","version":1,"red":0.1,"green":0.2,"blue":0.3})",
        QByteArray(100000, '{'),
    };
    QTemporaryDir dir;
    auto settings = Settings::atPath(dir.filePath("Vistrale.conf"));
    for (const QByteArray& data : corrupt) {
        settings->setData(keys::CAMERA_BORDER_COLOR, data);
        EXPECT_EQ(borderColorSetting(*settings), defaultBorderColor()) << data.left(80).toStdString();
    }
    // Text where data belongs is no archive either.
    settings->setText(keys::CAMERA_BORDER_COLOR, QString::fromUtf8(archiveColor(Qt::red)));
    EXPECT_EQ(borderColorSetting(*settings), defaultBorderColor());
}
