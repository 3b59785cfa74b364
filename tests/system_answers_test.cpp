// Answers of the system that Wine never gives, played through the in-memory PC: the shell's
// error numbers and its silent aborts, a session nobody sees, a clock read across midnight, an
// executable path that can't be read, the final-path forms of shares, letter case and volumes
// without DOS names, and the reparse tags of ordinary files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "fake_pc.h"
#include "servicing/recovery_partition_update.h"

namespace {

const char16_t* const kSystemLog = u"c:\\System.sav\\Logs\\Castorel.log";

void PcWithFlagOnDAndE() {
    ResetPc();
    for (char16_t letter : {u'C', u'D', u'E'}) Pc().driveTypes[letter] = kDriveFixed;
    Pc().AddFolder(u"c:\\System.sav\\Logs");
    Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
    Pc().AddFile(u"E:\\Recovery\\_VLTRP2.FLG");
    Pc().AddFile(u"C:\\pkg\\FU\\a");
}

// A dialog where nobody can answer it would hold the run until it is killed: outside an
// operator's desktop the shell's errors come back without one.
TEST(SystemAnswers, TheShellsAnswerAloneDecidesTheVerdict) {
    struct Case {
        int shellReturn;
        bool aborted;
        const char16_t* lastRecords;
        int status;
        ProcessSession session = {true, 1};
        bool withoutDialog = false;
    };
    const Case cases[] = {
        {0, false, u"Copy successfully\r\n", 0},
        {0x75, false, u"Copy failed with error code [117]\r\n", 1},
        {-1, false, u"Copy failed with error code [-1]\r\n", 1, {true, 0}, true},
        // A copy the shell aborted silently is no success.
        {0, true, u"Copy failed with error code [1223]\r\n", 1, {false, 2}, true},
        {0x7C, true, u"Copy failed with error code [124]\r\n", 1},
    };
    const std::u16string banner = u"\n\n" + std::u16string(32, u'=') + u" 03/07/18 09:05:02 " +
                                  std::u16string(40, u'=') + u"\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shellReturn);
        PcWithFlagOnDAndE();
        Pc().shellReturn = c.shellReturn;
        Pc().shellAborted = c.aborted;
        Pc().session = c.session;
        EXPECT_EQ(RunCastorel(), c.status);
        const std::u16string log = Pc().FileText(kSystemLog);
        EXPECT_NE(log.find(u"Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]\r\n" +
                           std::u16string(c.lastRecords)),
                  std::u16string::npos)
            << Narrow(log);
        // The run's banner opens it, and again the companion's install.
        EXPECT_EQ(log.find(banner), 0u);
        EXPECT_NE(log.find(banner, 1), std::u16string::npos);
        EXPECT_EQ(Pc().shellCopies.size(), 1u) << "no other drive is tried";
        EXPECT_EQ(Pc().shellErrorsWithoutDialog, c.withoutDialog);
    }
}

TEST(SystemAnswers, StampNamesTheOneMomentTheClockWasRead) {
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
        ResetPc();
        Pc().clockReadings = c.readings;
        const RunStamp stamp = TakeRunStamp();
        EXPECT_EQ(std::u16string(stamp.date), c.date);
        EXPECT_EQ(std::u16string(stamp.time), c.time);
        EXPECT_EQ(Pc().clockReads, 1u);
    }
}

TEST(SystemAnswers, UnreadableExePathEndsAbnormallyWithoutLogging) {
    ResetPc();
    Pc().AddFolder(u"c:\\System.sav\\Logs");
    Pc().modulePathUnreadable = true;
    try {
        RunCastorel();
        ADD_FAILURE() << "the run went on";
    } catch (int32_t code) {
        EXPECT_EQ(code, static_cast<int32_t>(0x80004005));
    }
    EXPECT_EQ(Pc().console, "Get exe path failed [0]\r\r\n");
    EXPECT_TRUE(Pc().appends.empty());
    EXPECT_EQ(Pc().clockReads, 0u);
#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
    // Nothing catches it: the process aborts with a status that is neither PASS nor FAIL.
    // The noexcept frame stands in for the entry: the exception leaves it uncaught.
    EXPECT_EXIT([]() noexcept { RunCastorel(); }(), [](int status) { return !WIFEXITED(status); },
                "");
#endif
}

TEST(SystemAnswers, OnlyTheLogsNameInThatVeryFolderIsTheLog) {
    struct Case {
        const char16_t* file;
        const char16_t* folder;
        bool same;
    };
    const Case cases[] = {
        {u"\\\\?\\C:\\System.sav\\Logs\\Castorel.log", u"\\\\?\\C:\\System.sav\\Logs", true},
        {u"\\\\?\\C:\\System.sav\\Logs\\CASTOREL.LOG", u"\\\\?\\C:\\System.sav\\Logs", true},
        {u"\\\\?\\C:\\Castorel.log", u"\\\\?\\C:\\", true},
        {u"\\\\?\\UNC\\server\\share\\pkg\\Castorel.log", u"\\\\?\\UNC\\server\\share\\pkg", true},
        {u"\\\\?\\C:\\windows\\win.ini", u"\\\\?\\C:\\System.sav\\Logs", false},
        {u"\\\\?\\C:\\pkg2\\Castorel.log", u"\\\\?\\C:\\pkg", false},
        {u"\\\\?\\C:\\pkg\\sub\\Castorel.log", u"\\\\?\\C:\\pkg", false},
        {u"\\\\?\\C:\\pkg\\Castorel.log2", u"\\\\?\\C:\\pkg", false},
        {u"\\\\?\\C:\\pkg\\Castorel.lo", u"\\\\?\\C:\\pkg", false},
        {u"\\\\?\\C:\\pkg", u"\\\\?\\C:\\pkg", false},
        {u"\\\\?\\C:\\PKG\\Castorel.log", u"\\\\?\\C:\\pkg", false},  // the folder's part is exact
        {u"\\\\?\\C:\\pkg\\Castorel.log", u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsFinalPathOfLeafInFolder(c.file, c.folder, u"Castorel.log"), c.same)
            << Narrow(c.file);
    }
    // Letter case is ignored from a to z, and nowhere else.
    EXPECT_TRUE(IsFinalPathOfLeafInFolder(u"C:\\AZ@[`{.LOG", u"C:", u"az@[`{.log"));
    EXPECT_FALSE(IsFinalPathOfLeafInFolder(u"C:\\@.LOG", u"C:", u"`.log"));
    EXPECT_FALSE(IsFinalPathOfLeafInFolder(u"C:\\[.LOG", u"C:", u"{.log"));
}

// Factory images carry owners of every kind: imaging keeps the captured owner, and an
// administrator whose token UAC does not split owns what it makes under its own account.
TEST(SystemAnswers, OnlyAReserveNoAdministratorOfThisPcOwnsFailsTheCopy) {
    const char16_t* const user = u"S-1-5-21-1-2-3-1002";
    struct Case {
        const char16_t* owner;  // empty: can't be read
        Membership membership;
        bool withoutOwners;  // a FAT volume
        bool copied;
    };
    const Case cases[] = {
        {u"S-1-5-32-544", Membership::NotMember, false, true},
        {u"S-1-5-18", Membership::NotMember, false, true},
        {u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", Membership::NotMember,
         false, true},
        {u"S-1-5-21-7-7-7-500", Membership::NotMember, false, true},  // the token's user
        {user, Membership::Member, false, true},
        {user, Membership::NotMember, false, false},
        {user, Membership::Unknown, false, false},  // unknown here, or its domain unreachable
        {u"S-1-5-32-54", Membership::NotMember, false, false},
        {u"S-1-5-32-5440", Membership::NotMember, false, false},
        {u"", Membership::Member, false, false},
        {user, Membership::NotMember, true, true},
    };
    for (const char16_t* reserve : {u"D:\\preload", u"D:\\preload\\RM_Reserve"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(Narrow(reserve) + " " + Narrow(c.owner) + " " +
                         std::to_string(static_cast<int>(c.membership)));
            PcWithFlagOnDAndE();
            Pc().AddFolder(u"D:\\preload\\RM_Reserve");
            Pc().SetOwner(reserve, c.owner);
            Pc().administrators[user] = c.membership;
            if (c.withoutOwners) Pc().drivesWithoutOwners = u"D";
            EXPECT_EQ(RunCastorel(), c.copied ? 0 : 1);
            const char* const last = c.copied ? "Copy successfully"
                                              : "Copy failed with error code [5]";
            EXPECT_NE(Pc().console.find(last), std::string::npos) << Pc().console;
            EXPECT_EQ(Pc().shellCopies.size(), c.copied ? 1u : 0u);
        }
    }
}

// Data deduplication, compression and cloud files put reparse points on ordinary files.
TEST(SystemAnswers, OnlyNameSurrogatesAndUntaggedReparsePointsAreLinks) {
    struct Case {
        bool reparsePoint;
        uint32_t tag;
        bool link;
    };
    for (const Case& c : {Case{true, 0xA000000C, true},   // symbolic link
                          Case{true, 0xA0000003, true},   // junction, mount point
                          Case{true, 0x80000013, false},  // deduplicated
                          Case{true, 0x80000017, false},  // compressed by WOF
                          Case{true, 0x9000601A, false},  // cloud file
                          Case{true, 0, true},            // no tag reported
                          Case{false, 0xA000000C, false}}) {
        EXPECT_EQ(IsLinkReparsePoint(c.reparsePoint, c.tag), c.link) << std::hex << c.tag;
    }
}

// RAM disks and letters made with DefineDosDevice have no DOS form of their final paths; on a
// share, one folder along the path that can't be read leaves no normalized form at all.
TEST(SystemAnswers, FinalPathsAreComparedInTheFirstFormBothHave) {
    using Paths = const char16_t* [4][2];
    const char16_t* const dosLog = u"\\\\?\\R:\\pkg\\Castorel.log";
    const char16_t* const dosFolder = u"\\\\?\\R:\\pkg";
    const char16_t* const ntLog = u"\\Device\\Ram0\\pkg\\Castorel.log";
    const char16_t* const ntFolder = u"\\Device\\Ram0\\pkg";
    const char16_t* const other = u"\\Device\\Other";
    const char16_t* const shareLog = u"\\\\?\\UNC\\srv\\kit\\pkg\\Castorel.log";
    const char16_t* const shareFolder = u"\\\\?\\UNC\\srv\\kit\\pkg";
    struct Case {
        Paths paths;
        bool same;
    };
    const Case cases[] = {
        {{{dosLog, dosFolder}, {ntLog, other}, {ntLog, other}, {ntLog, other}}, true},
        {{{nullptr, dosFolder}, {ntLog, ntFolder}, {dosLog, other}, {ntLog, other}}, true},
        {{{dosLog, nullptr}, {ntLog, ntFolder}}, true},
        {{{dosLog, nullptr}, {ntLog, other}, {dosLog, dosFolder}}, false},
        {{{dosLog, other}, {ntLog, ntFolder}}, false},
        {{{nullptr, nullptr}, {nullptr, ntFolder}}, false},
        {{{}, {}, {shareLog, shareFolder}, {ntLog, other}}, true},
        {{{}, {}, {shareLog, other}, {ntLog, ntFolder}}, false},
        {{{}, {}, {nullptr, shareFolder}, {ntLog, ntFolder}}, true},
        {{{}, {}, {}, {ntLog, ntFolder}}, true},
        {{{}, {}, {}, {ntLog, other}}, false},
    };
    for (const Case& c : cases) {
        GivenFinalPaths reader;
        std::copy(&c.paths[0][0], &c.paths[0][0] + 8, &reader.paths[0][0]);
        EXPECT_EQ(IsFileLeafOfFolder(reader, u"Castorel.log"), c.same) << (&c - cases);
    }
    // A file's own DOS form settles it only where it names that very path.
    const char16_t* const asked = u"D:\\preload\\RM_Reserve\\r\u00e9.txt";
    EXPECT_TRUE(IsDosFinalPathOf(u"\\\\?\\D:\\PRELOAD\\rm_reserve\\R\u00e9.TXT", asked));
    for (const char16_t* elsewhere :
         {u"\\\\?\\C:\\Windows\\victim.txt", u"\\\\?\\D:\\preload\\RM_Reserve\\r\u00e9.txt2",
          u"\\\\?\\D:\\preload\\RM_Reserve\\r\u00c9.txt", u"\\\\?\\D:\\preload\\RM_Reserve",
          u"D:\\preload\\RM_Reserve\\r\u00e9.txt", u"\\\\.\\D:\\preload\\RM_Reserve\\r\u00e9.txt",
          u"\\\\?\\UNC\\srv\\kit\\r\u00e9.txt", u"\\\\?"}) {
        EXPECT_FALSE(IsDosFinalPathOf(elsewhere, asked)) << Narrow(elsewhere);
    }
}

}  // namespace
