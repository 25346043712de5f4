// The captions' pure rules: SubRip text, the highlight pattern, the line count, the
// custom words and their spelling, and reading SubRip back for a subtitle track.
#include "captions/captions.h"
#include "captions/highlight_words.h"
#include "captions/recording_transcript.h"
#include "captions/subrip.h"
#include "platform/ffmpeg/ffmpeg_subtitles.h"
#include "platform/sphinx/letter_to_sound.h"
#include "platform/sphinx/sphinx_decoder.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(SubRip, WritesTimesWithMillisecondsAndEntriesInOrder)
{
    EXPECT_EQ(subRipTime(3725.04), "01:02:05,040");
    EXPECT_EQ(subRipTime(0), "00:00:00,000");
    // Rounding carries into the seconds instead of writing a fourth digit.
    EXPECT_EQ(subRipTime(59.9996), "00:01:00,000");

    const double start = 1000;
    EXPECT_EQ(subRip({{start + 0.5, 1.25, "hello"}, {start + 2, 0.5, "world."}}, start, start + 10),
        "1\n00:00:00,500 --> 00:00:01,750\nhello\n\n2\n00:00:02,000 --> 00:00:02,500\nworld.");
    EXPECT_EQ(makeSubRip({}), "");
}

TEST(SubRip, KeepsWhatFallsInsideTheRecordingAndItsTail)
{
    const double start = 500;
    const double end = start + 10;
    struct Case {
        double offset;
        double duration;
        bool kept;
        QString expectedTime;
    };
    const Case cases[] = {
        {-0.1, 1, false, {}}, // before the recording
        {8, 4.5, true, "00:00:08,000 --> 00:00:12,500"}, // ends exactly 2.5 s after
        {8, 4.6, false, {}}, // ends later than that
        {30, 20.0, true, "00:00:30,000 --> 00:00:50,000"}, // exactly 20 s is kept
        {3, -1, true, "00:00:03,000 --> 00:00:23,000"}, // negative: 20 s
    };
    for (const Case& c : cases) {
        const QString text = subRip({{start + c.offset, c.duration, "word"}}, start, end);
        EXPECT_EQ(!text.isEmpty(), c.kept) << c.offset << " " << c.duration;
        if (c.kept)
            EXPECT_EQ(text.section('\n', 1, 1), c.expectedTime);
    }
}

TEST(HighlightPattern, HoldsTheWordListThenTheCalendarWords)
{
    const QStringList words = QString(HIGHLIGHT_WORDS).split('|');
    EXPECT_EQ(words.size(), 961);
    EXPECT_EQ(words.mid(0, 8).join('|'),
        "abundant|accessible|accommodative|accomplished|accurate|achievable|really|adaptable");
    EXPECT_EQ(words.mid(957).join('|'), "worthy|young|youthful|zippy");
    EXPECT_EQ(calendarWords().size(), 38);
    EXPECT_TRUE(highlightPattern().isValid());
    EXPECT_TRUE(highlightPatternText().startsWith("\\b(abundant|"));
    EXPECT_TRUE(highlightPatternText().endsWith("|sun)\\b"));
}

TEST(HighlightPattern, MatchesWholeWordsInAnyCase)
{
    const std::pair<QString, QStringList> cases[] = {
        {"see you on MONDAY in jan", {"MONDAY", "jan"}},
        {"An Amazing talk", {"Amazing"}},
        {"Mondays are amazings", {}}, // a plural s is no longer the word
        {"the brilliant-ly done thing", {"brilliant"}},
        {"unbrilliant", {}},
    };
    for (const auto& [text, expected] : cases) {
        QStringList found;
        for (auto it = highlightPattern().globalMatch(text); it.hasNext();)
            found << it.next().captured();
        EXPECT_EQ(found, expected) << text.toStdString();
    }
}

TEST(CaptionLines, StoredCountOrThree)
{
    const std::pair<qint64, int> cases[] = {{0, 3}, {-4, 3}, {1, 1}, {2, 2}, {3, 3}};
    for (const auto& [stored, lines] : cases)
        EXPECT_EQ(visibleLinesSetting(stored), lines) << stored;
}

TEST(CustomWords, EachWordOnceAndNoMoreThanTheLimit)
{
    // The entries come split at "," with their blanks; words are what lies between.
    EXPECT_EQ(customVocabulary({"Vistrale", " live captions", "", " ", "vistrale"}, 100),
        (QStringList{"Vistrale", "live", "captions"}));
    EXPECT_EQ(customVocabulary({"a", "b", "c", "d"}, 2), (QStringList{"a", "b"}));
}

TEST(CustomWords, UnknownWordsArePronouncedByRules)
{
    EXPECT_EQ(englishPronunciation("Vistrale").value_or(""), "V IH S T R AA L");
    EXPECT_EQ(englishPronunciation("hello").value_or(""), "HH AH L OW");
    for (const QString word : {"Émile", "x2", "", "'", "co-op"})
        EXPECT_FALSE(englishPronunciation(word)) << word.toStdString();
}

TEST(SubRipReading, ReadsWhatMakeSubRipWritesAndSkipsBrokenEntries)
{
    const QString text = makeSubRip({{0.5, 1.25, "hello"}, {3725.04, 1, "two\nlines"}})
        + "\n\n3\nno time here\n\n4\n00:00:05,000 --> 00:00:04,000\nbackwards";
    const std::vector<SubtitleCue> cues = parseSubRip(text);
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].start, 500);
    EXPECT_EQ(cues[0].end, 1750);
    EXPECT_EQ(cues[0].text, "hello");
    EXPECT_EQ(cues[1].start, 3725040);
    EXPECT_EQ(cues[1].text, "two\nlines");
}

TEST(SubRipFile, LiesBesideTheMovieWithTheSameName)
{
    EXPECT_EQ(subRipPathFor("/home/me/Movies/talk.mp4"), "/home/me/Movies/talk.srt");
    EXPECT_EQ(subRipPathFor("/home/me/talk.final.mov"), "/home/me/talk.final.srt");
}
