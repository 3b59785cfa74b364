// The two servicing phases against the in-memory PC: which drive is serviced, what is copied
// from and to where, what is logged, and what the verdict becomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_context.h"
#include "fake_pc.h"
#include "run_texts.h"
#include "servicing/companion_executable_install.h"
#include "servicing/recovery_partition_update.h"

namespace {

class ServicingTest : public ::testing::Test {
protected:
    void SetUp() override { Prepare(u"C:\\pkg\\"); }

    void Prepare(const std::u16string& exeDirectory) {
        ResetPc();
        Pc().driveTypes[u'C'] = kDriveFixed;
        Pc().AddFolder(u"c:\\System.sav\\Logs");
        Pc().AddFolder(u"c:\\Windows");
        Pc().modulePath = exeDirectory + u"Castorel.exe";
        context = RunContext{};
        ASSERT_LT(exeDirectory.size(), kMaxPath);
        exeDirectory.copy(context.exeDirectory, exeDirectory.size());
        std::u16string(kSystemLog).copy(context.logPath, TextLength(kSystemLog));
        context.outcome = RunOutcome::Pass;
    }

    // The log's records, each without its CR LF.
    std::vector<std::string> Records() const {
        std::vector<std::string> records;
        const std::u16string log = Pc().FileText(kSystemLog);
        for (size_t start = 0; start < log.size();) {
            const size_t end = log.find(u"\r\n", start);
            EXPECT_NE(end, std::u16string::npos) << "record without CR LF";
            if (end == std::u16string::npos) break;
            records.push_back(Narrow(log.substr(start, end - start)));
            start = end + 2;
        }
        return records;
    }

    RunContext context;
};

using Lines = std::vector<std::string>;

TEST_F(ServicingTest, FixedDriveListHoldsOnlyFixedDrivesInLetterOrder) {
    char16_t list[kMaxPath];
    Pc().driveTypes = {};
    BuildFixedDriveList(list);
    EXPECT_EQ(Narrow(list), "");

    Pc().driveTypes = {{u'Z', kDriveFixed}, {u'A', kDriveFixed}, {u'D', kDriveFixed},
                       {u'E', 2 /* removable */}, {u'F', 4 /* network */},
                       {u'G', 5 /* optical */}, {u'H', 6 /* RAM disk */}};
    BuildFixedDriveList(list);
    EXPECT_EQ(Narrow(list), "A:\\;D:\\;Z:\\;");

    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) Pc().driveTypes[letter] = kDriveFixed;
    BuildFixedDriveList(list);
    EXPECT_EQ(TextLength(list), 104u);
    EXPECT_EQ(Narrow(list).substr(96), "Y:\\;Z:\\;");
}

TEST_F(ServicingTest, OnlyTheFirstFlaggedDriveIsExaminedAndServiced) {
    Pc().driveTypes[u'D'] = kDriveFixed;
    Pc().driveTypes[u'E'] = kDriveFixed;
    Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
    Pc().AddFile(u"E:\\Recovery\\_VLTRP2.FLG");
    UpdateRecoveryPartition(context);
    EXPECT_EQ(Records(), (Lines{"Fixed list [C:\\;D:\\;E:\\;]",
                                  "First found fixed drive letter [C:\\]",
                                  "First found fixed drive letter [D:\\]",
                                  "Find RP flag in [D:\\]",
                                  "Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]",
                                  "Copy successfully"}));
    EXPECT_EQ(Pc().probes, (std::vector<std::u16string>{u"C:\\Recovery\\_VLTRP2.FLG",
                                                        u"D:\\Recovery\\_VLTRP2.FLG",
                                                        u"D:\\preload",
                                                        u"D:\\preload\\RM_Reserve"}));
    ASSERT_EQ(Pc().shellCopies.size(), 1u);
    EXPECT_EQ(context.outcome, RunOutcome::Pass);
}

TEST_F(ServicingTest, NoFlagMeansNothingToDoAndPasses) {
    const std::pair<const char*, bool> layouts[] = {{"no fixed drive", false},
                                                    {"flag only on a removable drive", true}};
    for (const auto& [name, removableFlag] : layouts) {
        SCOPED_TRACE(name);
        SetUp();
        Pc().driveTypes = {};
        if (removableFlag) {
            Pc().driveTypes[u'E'] = 2;
            Pc().AddFile(u"E:\\Recovery\\_VLTRP2.FLG");
        }
        UpdateRecoveryPartition(context);
        EXPECT_EQ(Records(), (Lines{"Fixed list []", "Cannot finf RP, skip FU copy"}));
        EXPECT_TRUE(Pc().shellCopies.empty());
        EXPECT_EQ(context.outcome, RunOutcome::Pass);
    }
}

TEST_F(ServicingTest, FlagFolderCountsAsTheFlag) {
    Pc().AddFolder(u"C:\\Recovery\\_VLTRP2.FLG");
    UpdateRecoveryPartition(context);
    EXPECT_EQ(Records().at(2), "Find RP flag in [C:\\]");
}

TEST_F(ServicingTest, ShellAnswerDecidesTheVerdict) {
    struct Case {
        int shellReturn;
        bool aborted;
        const char* lastRecord;
        RunOutcome outcome;
    };
    const Case cases[] = {
        {0, false, "Copy successfully", RunOutcome::Pass},
        {0x75, false, "Copy failed with error code [117]", RunOutcome::Fail},
        {-1, false, "Copy failed with error code [-1]", RunOutcome::Fail},
        // A copy the shell aborted silently is no success.
        {0, true, "Copy failed with error code [1223]", RunOutcome::Fail},
        {0x7C, true, "Copy failed with error code [124]", RunOutcome::Fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastRecord);
        SetUp();
        Pc().driveTypes[u'D'] = kDriveFixed;
        Pc().driveTypes[u'E'] = kDriveFixed;
        Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
        Pc().AddFile(u"E:\\Recovery\\_VLTRP2.FLG");
        Pc().shellReturn = c.shellReturn;
        Pc().shellAborted = c.aborted;
        UpdateRecoveryPartition(context);
        EXPECT_EQ(Records().back(), c.lastRecord);
        EXPECT_EQ(context.outcome, c.outcome);
        EXPECT_EQ(Pc().shellCopies.size(), 1u) << "no other drive is tried";
    }
}

TEST_F(ServicingTest, ReserveReachedThroughALinkIsNeverCopiedInto) {
    for (const char16_t* link : {u"D:\\preload", u"D:\\preload\\RM_Reserve"}) {
        SCOPED_TRACE(Narrow(link));
        SetUp();
        Pc().driveTypes[u'D'] = kDriveFixed;
        Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
        Pc().AddLink(link, true);
        UpdateRecoveryPartition(context);
        EXPECT_EQ(Records().back(), "Copy failed with error code [4395]");
        EXPECT_EQ(Records().end()[-2], "Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]");
        EXPECT_TRUE(Pc().shellCopies.empty());
        EXPECT_EQ(context.outcome, RunOutcome::Fail);
    }
}

TEST_F(ServicingTest, CopySourceIsFuBesideTheTool) {
    for (const char16_t* directory : {u"C:\\pkg\\", u"C:\\"}) {
        Prepare(directory);
        Pc().AddFile(u"C:\\Recovery\\_VLTRP2.FLG");
        UpdateRecoveryPartition(context);
        ASSERT_EQ(Pc().shellCopies.size(), 1u);
        EXPECT_EQ(Pc().shellCopies[0].first, std::u16string(directory) + u"FU\\*");
        EXPECT_EQ(Pc().shellCopies[0].second, u"C:\\preload\\RM_Reserve");
    }
}

TEST_F(ServicingTest, CopyPathThatWouldNotFitWithItsListEndIsNeverCopied) {
    // "FU\*" adds 4 units: a directory of 254 units gives a 258-unit source, the longest whose
    // list (path, NUL, NUL) fits 260 units.
    for (size_t length = 250; length < kMaxPath; ++length) {
        SCOPED_TRACE(length);
        Prepare(u"C:\\" + std::u16string(length - 4, u'p') + u"\\");
        ASSERT_EQ(TextLength(context.exeDirectory), length);
        Pc().AddFile(u"C:\\Recovery\\_VLTRP2.FLG");
        UpdateRecoveryPartition(context);
        const bool fits = length + 4 <= kMaxPath - 2;
        EXPECT_EQ(Pc().shellCopies.size(), fits ? 1u : 0u);
        EXPECT_EQ(Records().back(), fits ? "Copy successfully" : "Copy failed with error code [206]");
        EXPECT_EQ(context.outcome, fits ? RunOutcome::Pass : RunOutcome::Fail);
    }
}

TEST_F(ServicingTest, CompanionIsCopiedFromTheToolsFolder) {
    for (const char16_t* directory : {u"C:\\pkg\\", u"C:\\"}) {
        Prepare(directory);
        const std::u16string folder = directory == std::u16string(u"C:\\") ? u"C:\\" : u"C:\\pkg";
        Pc().AddFile(folder + u"\\QXCUST2.exe", u"new");
        Pc().AddFile(u"c:\\Windows\\QXCUST2.exe", u"old");
        InstallCompanionExecutable(context.logPath);
        EXPECT_EQ(Records(),
                  (Lines{Narrow(folder) + "\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe",
                           "Copy file successful with return code: 1"}));
        EXPECT_EQ(Pc().FileText(u"c:\\Windows\\QXCUST2.exe"), u"new");
    }
    EXPECT_EQ(Records().at(0).substr(0, 16), "C:\\\\QXCUST2.exe ") << "a root keeps its backslash";
}

TEST_F(ServicingTest, CompanionMissingOrRefusedIsLoggedOnly) {
    InstallCompanionExecutable(context.logPath);
    EXPECT_EQ(Records(), (Lines{"Source file not exists: C:\\pkg\\QXCUST2.exe"}));

    SetUp();
    Pc().AddFile(u"C:\\pkg\\QXCUST2.exe");
    Pc().lockedFiles.insert(Canonical(u"c:\\Windows\\QXCUST2.exe"));
    InstallCompanionExecutable(context.logPath);
    EXPECT_EQ(Records().back(), "Copy file failed with return code: 0");
    EXPECT_EQ(context.outcome, RunOutcome::Pass);
}

}  // namespace
