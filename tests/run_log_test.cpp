#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pc.h"
#include "log/run_log.h"

namespace {

const char16_t* const kLog = u"C:\\Logs\\Castorel.log";

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPc();
        Pc().driveTypes[u'C'] = kDriveFixed;
        Pc().AddFolder(u"C:\\Logs");
    }
    std::u16string Log() const { return Pc().FileText(kLog); }
};

TEST_F(RunLogTest, StampNamesTheOneMomentTheClockWasRead) {
    struct Case {
        std::vector<LocalClock> readings;  // what the clock gives, one reading after another
        const char16_t* date;
        const char16_t* time;
    };
    const Case cases[] = {
        {{{2018, 3, 7, 9, 5, 2}}, u"03/07/18", u"09:05:02"},
        {{{2000, 12, 31, 23, 59, 59}}, u"12/31/00", u"23:59:59"},
        // A second reading past midnight would stamp the run a day early.
        {{{2018, 12, 31, 23, 59, 59}, {2019, 1, 1, 0, 0, 0}}, u"12/31/18", u"23:59:59"},
        {{{2020, 2, 29, 23, 59, 59}, {2020, 3, 1, 0, 0, 0}}, u"02/29/20", u"23:59:59"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.date));
        Pc().clockReadings = c.readings;
        Pc().clockReads = 0;
        const RunStamp stamp = TakeRunStamp();
        EXPECT_EQ(std::u16string(stamp.date), c.date);
        EXPECT_EQ(std::u16string(stamp.time), c.time);
        EXPECT_EQ(Pc().clockReads, 1u);
    }
}

TEST_F(RunLogTest, BannerOpensANewFileWithoutByteOrderMark) {
    const RunStamp stamp{u"03/07/18", u"09:05:02"};
    AppendBanner(kLog, stamp);
    const std::u16string banner =
        u"\n\n================================ 03/07/18 09:05:02 "
        u"========================================\r\n";
    EXPECT_EQ(banner.size(), 95u);
    EXPECT_EQ(Log(), banner);
    EXPECT_EQ(Pc().console,
              "\r\n\r\n================================ 03/07/18 09:05:02 "
              "========================================\r\r\n");
}

TEST_F(RunLogTest, RecordsAppendAndEchoUnchanged) {
    Pc().AddFile(kLog, u"earlier run\r\n");
    AppendLogRecord(kLog, u"Find RP flag in [%s%d%c%%]\r\n");
    AppendLogRecord(kLog, u"caf\u00E9\r\n");
    EXPECT_EQ(Log(), u"earlier run\r\nFind RP flag in [%s%d%c%%]\r\ncaf\u00E9\r\n");
    EXPECT_EQ(Pc().console, "Find RP flag in [%s%d%c%%]\r\r\ncaf\xE9\r\r\n");
}

TEST_F(RunLogTest, EchoStopsAtFirstUnitAboveLatin1ButTheFileKeepsAll) {
    AppendLogRecord(kLog, u"Copy [D:\\\u4E2D\\x]\r\n");
    AppendLogRecord(kLog, u"next\r\n");
    AppendLogRecord(kLog, u"pair \U0001F600 after\r\n");
    EXPECT_EQ(Log(), u"Copy [D:\\\u4E2D\\x]\r\nnext\r\npair \U0001F600 after\r\n");
    EXPECT_EQ(Pc().console, "Copy [D:\\next\r\r\npair ");
}

TEST_F(RunLogTest, PrintSubstitutesQuestionMarksAndGoesOn) {
    PrintToConsole(u"ExeDir=[%s]\r\n", {u"C:\\\u00E9\u0100\U0001F600z\\"});
    EXPECT_EQ(Pc().console, "ExeDir=[C:\\\xE9???z\\]\r\r\n");

    // Longer than the console block: nothing lost or repeated at the block's edge.
    Pc().console.clear();
    const std::u16string longText(1500, u'\u0101');
    PrintToConsole(u"[%s]", {longText.c_str()});
    EchoToConsole(std::u16string(1500, u'e').c_str());
    EXPECT_EQ(Pc().console, "[" + std::string(1500, '?') + "]" + std::string(1500, 'e'));
}

TEST_F(RunLogTest, UnwritableLogStillEchoes) {
    Pc().lockedFiles.insert(Canonical(kLog));
    AppendLogRecord(kLog, u"Result=PASS\r\n");
    AppendLogRecord(u"C:\\Missing\\Castorel.log", u"Result=PASS\r\n");
    AppendLogRecord(u"", u"Result=PASS\r\n");
    EXPECT_FALSE(Pc().Has(kLog));
    EXPECT_FALSE(Pc().Has(u"C:\\Missing\\Castorel.log"));
    EXPECT_EQ(Pc().console, "Result=PASS\r\r\nResult=PASS\r\r\nResult=PASS\r\r\n");
}

TEST_F(RunLogTest, OversizedRecordIsCutAndStillEndsTheLine) {
    for (size_t length = 240; length <= 270; ++length) {
        SetUp();
        const std::u16string long_text(length, u'a');
        AppendComposedRecord(kLog, u"[%s]\r\n", {long_text.c_str()});
        AppendComposedRecord(kLog, u"next\r\n", {});
        const std::u16string log = Log();
        const size_t whole = length + 4;
        const size_t first = whole < kMaxPath ? whole : kMaxPath - 1;
        ASSERT_EQ(log.size(), first + 6) << length;
        EXPECT_EQ(log.substr(first - 2), u"\r\nnext\r\n") << length;
    }
}

TEST_F(RunLogTest, CutNeverSplitsASurrogatePair) {
    for (size_t prefix = kMaxPath - 8; prefix < kMaxPath; ++prefix) {
        SetUp();
        std::u16string text(prefix, u'a');
        text += u"\U0001F600\U0001F600\U0001F600";
        AppendComposedRecord(kLog, u"%s\r\n", {text.c_str()});
        const std::u16string log = Log();
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log.substr(log.size() - 2), u"\r\n") << prefix;
        const char16_t beforeLineEnd = log[log.size() - 3];
        EXPECT_FALSE(beforeLineEnd >= 0xD800 && beforeLineEnd <= 0xDBFF) << prefix;
    }
}

TEST_F(RunLogTest, CutKeepsLoneSurrogatesItDoesNotSplit) {
    // Unpaired high surrogates (found by fuzzing): nothing is split, so the record is cut at
    // full length.
    const std::u16string lone(300, char16_t{0xDADA});
    AppendComposedRecord(kLog, u"%s\r\n", {lone.c_str()});
    EXPECT_EQ(Log(), std::u16string(kMaxPath - 3, char16_t{0xDADA}) + u"\r\n");

    // A high surrogate followed by a unit that is no low surrogate is no pair either.
    SetUp();
    const std::u16string unpaired =
        std::u16string(kMaxPath - 4, u'a') + char16_t{0xD83D} + std::u16string(9, char16_t{0xE000});
    AppendComposedRecord(kLog, u"%s\r\n", {unpaired.c_str()});
    EXPECT_EQ(Log(), unpaired.substr(0, kMaxPath - 3) + u"\r\n");
}

}  // namespace
