// The caption editor's captions as the export takes them: the exchange string, the
// running text each overlay shows and when it shows it.
#include "captions/caption_box.h"
#include "captions/caption_export.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(CaptionExport, EntriesAreReadFromTheExchangeStringAndMalformedOnesSkipped)
{
    const std::vector<CaptionEntry> entries = parseCaptionEntries(
        "it's here___0___1000###only two___5###later___2500.5___ 3000 ###bad___x___1###"
        "earlier___1500___1200###___4000___4100");
    ASSERT_EQ(entries.size(), 4u);
    const std::pair<QString, double> expected[]
        = {{"it's here", 0}, {"later", 2500.5}, {"earlier", 1500}, {"", 4000}};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].text, expected[i].first);
        EXPECT_EQ(entries[i].start, expected[i].second);
    }
    EXPECT_TRUE(parseCaptionEntries("").empty());

    // The subtitle track: earliest first, no negative durations, blank entries left out.
    EXPECT_EQ(subRipOfEntries(entries).toStdString(), "1\n00:00:00,000 --> 00:00:01,000\nit's here\n\n"
                                        "2\n00:00:01,500 --> 00:00:01,500\nearlier\n\n"
                                        "3\n00:00:02,501 --> 00:00:03,000\nlater");
}

TEST(CaptionExport, EachOverlayShowsTheRunningTextFromItsStartInTheCaptionBoxLook)
{
    const QRectF box = captionBoxFrame(1920, 2);
    const std::vector<BaseOverlay> overlays
        = captionOverlays(parseCaptionEntries("hello___0___1000###world___1500___2500"), box, 2);
    ASSERT_EQ(overlays.size(), 2u);
    EXPECT_EQ(overlays[0].appearsAt(), 0.0) << "visible from the first frame";
    EXPECT_EQ(overlays[1].appearsAt(), 1.5);
    EXPECT_EQ(overlays[1].durationValue(), 1000);
    EXPECT_EQ(overlays[1].frame, box);
    EXPECT_EQ(overlays[0].layer(), renderCaptionBoxPicture("hello ", box.size().toSize()));
    EXPECT_EQ(overlays[1].layer(), renderCaptionBoxPicture("hello world ", box.size().toSize()));
    EXPECT_NE(overlays[1].layer(), overlays[0].layer());

    // A long talk: each overlay keeps only the lines the box shows, and shows what the
    // whole running text would.
    QString captions, running;
    for (int i = 0; i < 400; ++i) {
        const QString words = QString("entry %1 with several words that wrap").arg(i);
        captions += (i ? "###" : "") + words + QString("___%1___%2").arg(i * 1000).arg(i * 1000 + 900);
        running += words + ' ';
    }
    const std::vector<BaseOverlay> many = captionOverlays(parseCaptionEntries(captions), box, 2);
    ASSERT_EQ(many.size(), 400u);
    EXPECT_EQ(many.back().layer(), renderCaptionBoxPicture(running, box.size().toSize()));
    EXPECT_LT(captionTail(running, box.width() - 2 * CAPTION_MARGIN_X, 3).size(), 400);
}
