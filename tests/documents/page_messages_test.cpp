#include "documents/page_messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

std::optional<PageRequest> requestOf(const char* json)
{
    return pageRequest(QJsonDocument::fromJson(QByteArray("[") + json + "]").array().first());
}

} // namespace

TEST(PageMessages, EachRequestOfTheTableIsReadWithItsFields)
{
    const struct {
        const char* body;
        PageRequest::Kind kind;
    } cases[] = {
        {R"({"message":"version"})", PageRequest::Version},
        {R"({"message":"vistrale-live-ready","extra":1})", PageRequest::LiveReady},
        {R"({"message":"m","uuid":"a","x":512,"y":0})", PageRequest::MovePointer},
        {R"({"message":"m","uuid":"a","x":-3.0,"y":2e3})", PageRequest::MovePointer},
        {R"({"message":"h","uuid":"a"})", PageRequest::HidePointer},
        {R"({"message":"pick-image","url":"bigsur.png"})", PageRequest::PickImage},
        {R"({"message":"pick-video","url":"file:///v.mp4"})", PageRequest::PickVideo},
        {R"({"message":"fetch-transcript"})", PageRequest::FetchTranscript},
        {R"({"message":"save-transcript","vtt":""})", PageRequest::SaveTranscript},
        {R"({"message":"close"})", PageRequest::Close},
    };
    for (const auto& c : cases) {
        const std::optional<PageRequest> request = requestOf(c.body);
        ASSERT_TRUE(request) << c.body;
        EXPECT_EQ(request->kind, c.kind) << c.body;
    }
    const PageRequest move = *requestOf(R"({"message":"m","uuid":"u-1","x":-3,"y":2000})");
    EXPECT_EQ(move.uuid, "u-1");
    EXPECT_EQ(move.x, -3);
    EXPECT_EQ(move.y, 2000);
    EXPECT_EQ(requestOf(R"({"message":"pick-video","url":"a.mov"})")->url, "a.mov");
    EXPECT_EQ(requestOf(R"({"message":"save-transcript","vtt":"1___x"})")->vtt, "1___x");
}

TEST(PageMessages, MalformedBodiesAreNoRequest)
{
    const char* bodies[] = {
        R"("version")",
        R"(null)",
        R"(["version"])",
        R"({})",
        R"({"message":7})",
        R"({"message":null})",
        R"({"message":"Version"})",
        R"({"message":"reload"})",
        R"({"message":"m","x":1,"y":2})",
        R"({"message":"m","uuid":5,"x":1,"y":2})",
        R"({"message":"m","uuid":"a","x":"1","y":2})",
        R"({"message":"m","uuid":"a","x":1.5,"y":2})",
        R"({"message":"m","uuid":"a","x":1})",
        R"({"message":"m","uuid":"a","x":1e12,"y":2})",
        R"({"message":"h"})",
        R"({"message":"pick-image"})",
        R"({"message":"pick-image","url":{"href":"x"}})",
        R"({"message":"pick-video","url":null})",
        R"({"message":"save-transcript"})",
        R"({"message":"save-transcript","vtt":["a"]})",
    };
    for (const char* body : bodies)
        EXPECT_FALSE(requestOf(body)) << body;
}

TEST(PageMessages, RemotePointersMapFromTheTopLeft1024SquareToTheScreen)
{
    EXPECT_EQ(remotePointerLocation(512, 0, QSizeF(1920, 1080)), QPointF(960, 1080));
    EXPECT_EQ(remotePointerLocation(0, 1024, QSizeF(1920, 1080)), QPointF(0, 0));
    EXPECT_EQ(remotePointerLocation(256, 512, QSizeF(1024, 768)), QPointF(256, 384));
}

TEST(PageMessages, CallsQuoteEveryArgumentAsOneScriptString)
{
    EXPECT_EQ(pageCall("setVersion", {"version 1.0.0", "Super+F1"}), "setVersion('version 1.0.0','Super+F1')");
    EXPECT_EQ(pageCall("init", {"a'b\\", "x\ny</script>"}), "init('a\\'b\\\\','x\\u000ay\\u003c/script\\u003e')");
    EXPECT_EQ(pageCall("f", {QString(QChar(0x2028))}), "f('\\u2028')");
}

TEST(PageMessages, CaptionTextTravelsInItsExchangeForm)
{
    const QString subRip = "1\n00:00:00,500 --> 00:00:01,000\nit's\r\nhere";
    EXPECT_EQ(captionExchangeText(subRip), "1___00:00:00,500 --> 00:00:01,000___it###s___here");
}

TEST(PageMessages, OnlyFilesTheUserChoseAreNamedByTheirFileName)
{
    const QStringList chosen{"/home/u/Videos/loop.mp4", "/tmp/other/loop.mp4", "/home/u/a b.png"};
    EXPECT_EQ(chosenFileAddress("chosen-file:loop.mp4", chosen), "file:///tmp/other/loop.mp4") << "the latest choice";
    EXPECT_EQ(chosenFileAddress("chosen-file:a b.png", chosen), "file:///home/u/a%20b.png");
    for (const QString unknown :
        {"chosen-file:secret.mp4", "chosen-file:../loop.mp4", "chosen-file:", "chosen-file:Videos"})
        EXPECT_EQ(chosenFileAddress(unknown, chosen), "") << unknown.toStdString();
    for (const QString other : {"bigsur.png", "loop.mp4", "file:///tmp/other/loop.mp4", "https://x/loop.mp4"})
        EXPECT_EQ(chosenFileAddress(other, chosen), other);
}
