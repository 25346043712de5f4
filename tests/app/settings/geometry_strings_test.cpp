#include "app/settings/geometry_strings.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(RectString, WritesThePlatformForm)
{
    EXPECT_EQ(rectString(QRectF(10, 20, 274, 154)), QStringLiteral("{{10, 20}, {274, 154}}"));
    EXPECT_EQ(rectString(QRectF(-1638.5, 0.25, 0, 3)), QStringLiteral("{{-1638.5, 0.25}, {0, 3}}"));
    EXPECT_EQ(pointString(QPointF(-3, 12.75)), QStringLiteral("{-3, 12.75}"));
}

TEST(RectString, ReadsBackWhatItWrites)
{
    const QRectF rects[]
        = {QRectF(1638, 893, 274, 154), QRectF(-3168.25, -1048, 1920, 1080), QRectF(0.1, 1e-7, 123456789.5, 2e12)};
    for (const QRectF& rect : rects) {
        const auto parsed = parseRectString(rectString(rect));
        ASSERT_TRUE(parsed) << rectString(rect).toStdString();
        EXPECT_DOUBLE_EQ(parsed->x(), rect.x());
        EXPECT_DOUBLE_EQ(parsed->y(), rect.y());
        EXPECT_DOUBLE_EQ(parsed->width(), rect.width());
        EXPECT_DOUBLE_EQ(parsed->height(), rect.height());
    }
    EXPECT_EQ(parsePointString(pointString(QPointF(-20.5, 7))), QPointF(-20.5, 7));
}

TEST(RectString, AcceptsOtherSpacingAndSignedOrFractionalNumbers)
{
    EXPECT_EQ(parseRectString(QStringLiteral("{{1,2},{3,4}}")), QRectF(1, 2, 3, 4));
    EXPECT_EQ(parseRectString(QStringLiteral("  { { -1.5 ,+2 } ,  { .5 , 4. } }  ")), QRectF(-1.5, 2, 0.5, 4));
    EXPECT_EQ(parseRectString(QStringLiteral("{{1e2, -2E-1}, {3, 4}}")), QRectF(100, -0.2, 3, 4));
    EXPECT_EQ(parsePointString(QStringLiteral(" {  -0.25,8 } ")), QPointF(-0.25, 8));
}

TEST(RectString, RejectsTextOfAnyOtherForm)
{
    const char* rects[] = {"", "garbage", "{1, 2, 3, 4}", "{{1, 2}, {3}}", "{1, 2}, {3, 4}", "{{1, 2}, {3, 4}",
        "{{1, 2}, {3, 4}} junk", "x{{1, 2}, {3, 4}}", "{{1, 2}, {3, 4}, {5, 6}}", "{{nan, 2}, {3, 4}}",
        "{{1, inf}, {3, 4}}", "{{1, 2}, {1e999, 4}}", "{{0x10, 2}, {3, 4}}", "{{1,, 2}, {3, 4}}", "{{1 2}, {3, 4}}"};
    for (const char* text : rects)
        EXPECT_FALSE(parseRectString(QString::fromUtf8(text))) << text;
    const char* points[] = {"", "{1}", "{1, 2, 3}", "1, 2", "{1, 2}}", "{nan, 1}", "{1, -inf}", "{{1, 2}}"};
    for (const char* text : points)
        EXPECT_FALSE(parsePointString(QString::fromUtf8(text))) << text;
    // Very long text is not even looked at.
    EXPECT_FALSE(parseRectString(QStringLiteral("{{1, 2}, {3, 4%1}}").arg(QString(1000, '0'))));
}
