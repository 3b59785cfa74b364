// The copy into the reserve around the shell's own: the reserve the tool makes, and the check of
// what the shell reports done. The in-memory shell can report success for a copy it never
// made, as Wine's does for a file another program holds, and names can appear in the instant
// before the tool makes a folder.
#include <gtest/gtest.h>

#include <string>

#include "app/run_sequence.h"
#include "fake_pc.h"

namespace {

constexpr uint64_t kSecond = 10'000'000;  // in 100 ns ticks
constexpr uint64_t kWritten = 13'000'000'000 * kSecond;
const char16_t* const kReserve = u"D:\\preload\\RM_Reserve";

void PcWithFlagOnD() {
    ResetPc();
    for (char16_t letter : {u'C', u'D'}) Pc().driveTypes[letter] = kDriveFixed;
    Pc().AddFolder(u"c:\\System.sav\\Logs");
    Pc().AddFile(u"D:\\Recovery\\_VLTRP2.FLG");
    Pc().AddFile(u"C:\\pkg\\FU\\a.bin", u"new");
    Pc().SetLastWrite(u"C:\\pkg\\FU\\a.bin", kWritten);
}

// The last record of the update phase, as the console shows it.
std::string UpdateResult() {
    const std::string& console = Pc().console;
    const size_t last = console.rfind("Copy ", console.find("\r\n\r\n=", console.find("Copy [")));
    return console.substr(last, console.find("\r\r\n", last) - last);
}

TEST(ReserveCopy, WhatTheShellReportsDoneIsCheckedWhole) {
    struct Case {
        const char* name;
        const char16_t* reserveFile;  // where the reserve already has a file; null: none
        const char16_t* content;
        int64_t age;    // its last-write time before FU's file's, in ticks
        bool fuFolder;  // FU also holds an empty folder
        const char* result;
    };
    const char* const passed = "Copy successfully";
    const char* const stale = "Copy failed with error code [29]";
    const Case cases[] = {
        {"nothing arrived", nullptr, u"", 0, false, stale},
        {"all there already", u"a.bin", u"new", 0, false, passed},
        {"name's case differs", u"A.BIN", u"new", 0, false, passed},
        {"FAT's 2 s, older", u"a.bin", u"old", 2 * kSecond, false, passed},
        {"FAT's 2 s, newer", u"a.bin", u"old", -2 * static_cast<int64_t>(kSecond), false, passed},
        {"older by more", u"a.bin", u"old", 2 * kSecond + 1, false, stale},
        {"newer by more", u"a.bin", u"old", -2 * static_cast<int64_t>(kSecond) - 1, false, stale},
        {"another size", u"a.bin", u"older", 0, false, stale},
        {"a folder that never came", u"a.bin", u"new", 0, true, stale},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcWithFlagOnD();
        Pc().shellCopiesNothing = true;
        if (c.fuFolder) Pc().AddFolder(u"C:\\pkg\\FU\\empty");
        if (c.reserveFile) {
            const std::u16string file = std::u16string(kReserve) + u"\\" + c.reserveFile;
            Pc().AddFile(file, c.content);
            Pc().SetLastWrite(file, kWritten - c.age);
        }
        EXPECT_EQ(RunCastorel(), std::string(c.result) == passed ? 0 : 1);
        EXPECT_EQ(Pc().shellCopies.size(), 1u);
        EXPECT_EQ(UpdateResult(), c.result);
    }
}

TEST(ReserveCopy, TheToolMakesTheMissingReserveFoldersBeforeTheShell) {
    PcWithFlagOnD();
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_EQ(Pc().madeFolders,
              (std::vector<std::u16string>{u"D:\\PRELOAD", u"D:\\PRELOAD\\RM_RESERVE"}));

    PcWithFlagOnD();
    Pc().AddFolder(u"D:\\preload");
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_EQ(Pc().madeFolders, std::vector<std::u16string>{u"D:\\PRELOAD\\RM_RESERVE"});

    // A copy that fails its checks, or has nothing to copy, makes nothing.
    for (const char16_t* fuEntry : {u"C:\\pkg\\FU\\b.", u"C:\\pkg\\FU\\c "}) {
        PcWithFlagOnD();
        Pc().AddFile(fuEntry);
        EXPECT_EQ(RunCastorel(), 1);
        EXPECT_EQ(UpdateResult(), "Copy failed with error code [123]");
        EXPECT_TRUE(Pc().madeFolders.empty());
        EXPECT_TRUE(Pc().shellCopies.empty());
    }
    PcWithFlagOnD();
    Pc().entries.erase(u"C:\\PKG\\FU\\A.BIN");
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_TRUE(Pc().madeFolders.empty());
}

// Between the check and the making, someone else puts a name there: it is judged as one that
// was there all along.
TEST(ReserveCopy, ANameThatAppearsBeforeTheToolMakesItIsJudgedAsAnyOther) {
    struct Case {
        const char16_t* path;
        FakeEntry appearing;
        const char* result;
    };
    const FakeEntry file{false, u"in the way"};
    const FakeEntry adminFolder{true, u"", 90};
    FakeEntry userFolder{true, u"", 91};
    userFolder.owner = u"S-1-5-21-1-2-3-1002";
    const Case cases[] = {
        {u"D:\\PRELOAD", file, "Copy failed with error code [80]"},
        {u"D:\\PRELOAD\\RM_RESERVE", file, "Copy failed with error code [80]"},
        {u"D:\\PRELOAD", userFolder, "Copy failed with error code [5]"},
        {u"D:\\PRELOAD\\RM_RESERVE", userFolder, "Copy failed with error code [5]"},
        {u"D:\\PRELOAD", adminFolder, "Copy successfully"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        PcWithFlagOnD();
        Pc().appearing[c.path] = c.appearing;
        RunCastorel();
        EXPECT_EQ(UpdateResult(), c.result);
        EXPECT_EQ(Pc().shellCopies.size(), std::string(c.result) == "Copy successfully");
    }
}

}  // namespace
