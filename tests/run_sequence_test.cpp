// Whole runs through the entry, compared byte for byte on the log file and the console.
#include <gtest/gtest.h>

#include <string>

#include "app/run_sequence.h"
#include "fake_pc.h"
#include "run_texts.h"

namespace {

class RunSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPc();
        Pc().driveTypes[u'C'] = kDriveFixed;
        Pc().AddFolder(u"c:\\System.sav\\Logs");
        Pc().AddFile(u"C:\\pkg\\Castorel.exe");
    }
};

// The records of a run on a PC whose only fixed drive is C, without the recovery flag, with no
// companion beside the tool in `folder` (given without its trailing backslash).
std::u16string UneventfulRun(const std::u16string& folder, const std::u16string& date = u"03/07/18",
                             const std::u16string& time = u"09:05:02") {
    return Banner(date, time) + u"Fixed list [C:\\;]\r\n" +
           u"First found fixed drive letter [C:\\]\r\n" + u"Cannot finf RP, skip FU copy\r\n" +
           Banner(date, time) + u"Source file not exists: " + folder + u"\\QXCUST2.exe\r\n" +
           u"Result=PASS\r\n";
}

TEST_F(RunSequenceTest, TypicalRunServicesTheFlaggedDriveAndInstallsTheCompanion) {
    Pc().driveTypes[u'D'] = kDriveFixed;
    Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
    Pc().AddFile(u"C:\\pkg\\QXCUST2.exe", u"companion");
    Pc().AddFolder(u"C:\\Windows");
    EXPECT_EQ(RunCastorel(), 0);
    const std::u16string records =
        Banner() + u"Fixed list [C:\\;D:\\;]\r\n" + u"First found fixed drive letter [C:\\]\r\n" +
        u"First found fixed drive letter [D:\\]\r\n" + u"Find RP flag in [D:\\]\r\n" +
        u"Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]\r\n" + u"Copy successfully\r\n" +
        Banner() + u"C:\\pkg\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe\r\n" +
        u"Copy file successful with return code: 1\r\n" + u"Result=PASS\r\n";
    EXPECT_EQ(Narrow(Pc().FileText(kSystemLog)), Narrow(records));
    EXPECT_EQ(Pc().console, std::string("ExePath=[C:\\pkg\\Castorel.exe]\r\r\n"
                                        "ExeDir=[C:\\pkg\\]\r\r\n"
                                        "logPath=[c:\\System.sav\\Logs\\Castorel.log]\r\r\n") +
                                ConsoleEcho(records));
    EXPECT_EQ(Pc().clockReads, 1u) << "one reading stamps the whole run";
    EXPECT_EQ(Pc().FileText(u"c:\\Windows\\QXCUST2.exe"), u"companion");
}

TEST_F(RunSequenceTest, FailedCopyStillClosesTheRunAndExitsWithOne) {
    Pc().AddFile(u"C:\\Recovery\\_VLTRP2.FLG");
    Pc().shellReturn = 0x7C;
    EXPECT_EQ(RunCastorel(), 1);
    const std::u16string log = Pc().FileText(kSystemLog);
    const std::u16string tail = u"Copy failed with error code [124]\r\n" + Banner() +
                                u"Source file not exists: C:\\pkg\\QXCUST2.exe\r\n" +
                                u"Result=FAIL\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(Narrow(log.substr(log.size() - tail.size())), Narrow(tail));
}

TEST_F(RunSequenceTest, SecondRunAppendsAfterTheFirst) {
    RunCastorel();
    const std::u16string first = Pc().FileText(kSystemLog);
    Pc().clockReadings = {{2019, 11, 30, 17, 45, 9}};
    Pc().clockReads = 0;
    RunCastorel();
    const std::u16string both = Pc().FileText(kSystemLog);
    ASSERT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(Narrow(both.substr(first.size())),
              Narrow(UneventfulRun(u"C:\\pkg", u"11/30/19", u"17:45:09")));
}

TEST_F(RunSequenceTest, LogGoesBesideTheToolUnlessTheLogFolderIsARealFolder) {
    struct Case {
        const char* name;
        const char16_t* exe;
        void (*arrange)();
        const char16_t* expectedLog;
        const char16_t* companionFolder;
    };
    const Case cases[] = {
        {"folder absent", u"C:\\pkg\\Castorel.exe", [] {}, u"C:\\pkg\\Castorel.log", u"C:\\pkg"},
        {"drive root", u"C:\\Castorel.exe", [] {}, u"C:\\Castorel.log", u"C:\\"},
        {"log folder is a file", u"C:\\pkg\\Castorel.exe",
         [] { Pc().AddFile(u"c:\\System.sav\\Logs", u"not a folder"); }, u"C:\\pkg\\Castorel.log",
         u"C:\\pkg"},
        // Any user may make these where they are missing, as links to wherever they like.
        {"log folder is a link", u"C:\\pkg\\Castorel.exe",
         [] { Pc().AddLink(u"c:\\System.sav\\Logs", true); }, u"C:\\pkg\\Castorel.log", u"C:\\pkg"},
        {"its parent is a link", u"C:\\pkg\\Castorel.exe",
         [] {
             Pc().AddLink(u"c:\\System.sav", true);
             Pc().AddFolder(u"c:\\System.sav\\Logs");
         },
         u"C:\\pkg\\Castorel.log", u"C:\\pkg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetPc();
        Pc().driveTypes[u'C'] = kDriveFixed;
        Pc().modulePath = c.exe;
        Pc().AddFile(c.exe);
        c.arrange();
        EXPECT_EQ(RunCastorel(), 0);
        EXPECT_EQ(Narrow(Pc().FileText(c.expectedLog)), Narrow(UneventfulRun(c.companionFolder)));
        EXPECT_NE(Pc().console.find("logPath=[" + Narrow(c.expectedLog) + "]\r\r\n"),
                  std::string::npos);
    }
}

TEST_F(RunSequenceTest, ExeDirectoryIsThePathThroughItsLastBackslash) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"C:\\Castorel.exe", "C:\\"},
        {u"C:\\a\\b c\\%s%d\\Castorel.exe", "C:\\a\\b c\\%s%d\\"},
        {u"Castorel.exe", ""},
        {u"\\\\server\\share\\Castorel.exe", "\\\\server\\share\\"},
    };
    for (const auto& [exe, directory] : cases) {
        ResetPc();
        Pc().modulePath = exe;
        RunContext context{};
        ResolveRunLocations(context);
        EXPECT_EQ(Narrow(context.exeDirectory), directory);
    }
}

TEST_F(RunSequenceTest, FallbackLogPathThatWouldNotFitWritesNoLogFile) {
    // The folder fits in a path but the folder plus "Castorel.log" does not.
    const std::u16string folder = u"C:\\" + std::u16string(kMaxPath - 10, u'd') + u"\\";
    ResetPc();
    Pc().driveTypes[u'C'] = kDriveFixed;
    Pc().modulePath = folder + u"C.exe";
    Pc().AddFile(folder + u"C.exe");
    EXPECT_EQ(RunCastorel(), 0);
    for (const auto& [path, entry] : Pc().entries) {
        EXPECT_TRUE(entry.folder || path == Canonical(folder + u"C.exe")) << Narrow(path);
    }
    EXPECT_NE(Pc().console.find("logPath=[]\r\r\n"), std::string::npos);
    EXPECT_NE(Pc().console.find("Result=PASS\r\r\n"), std::string::npos);
}

TEST_F(RunSequenceTest, NonLatin1ExePathPrintsQuestionMarks) {
    Pc().modulePath = u"C:\\\u00E9t\u00E9\\\u4E2D\\Castorel.exe";
    RunCastorel();
    const std::string expected =
        "ExePath=[C:\\\xE9t\xE9\\?\\Castorel.exe]\r\r\nExeDir=[C:\\\xE9t\xE9\\?\\]\r\r\n";
    EXPECT_EQ(Pc().console.substr(0, expected.size()), expected);
}

using RunSequenceDeathTest = RunSequenceTest;

TEST_F(RunSequenceDeathTest, UnreadableExePathEndsAbnormallyWithoutLogging) {
    Pc().modulePathUnreadable = true;
    EXPECT_THROW(
        {
            try {
                RunCastorel();
            } catch (int32_t code) {
                EXPECT_EQ(code, static_cast<int32_t>(0x80004005));
                throw;
            }
        },
        int32_t);
    EXPECT_EQ(Pc().console, "Get exe path failed [0]\r\r\n");
    EXPECT_EQ(Pc().FileText(kSystemLog), u"");
    EXPECT_EQ(Pc().clockReads, 0u);
#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
    // Nothing catches it: the process aborts with a status that is neither PASS nor FAIL.
    // The noexcept frame stands in for the entry: the exception leaves it uncaught.
    EXPECT_EXIT([]() noexcept { RunCastorel(); }(), [](int status) { return !WIFEXITED(status); },
                "");
#endif
}

}  // namespace
