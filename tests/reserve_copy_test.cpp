// The copy into the reserve around the shell's own: the reserve the tool makes, and the check of
// what the shell reports done. The in-memory shell can report success for a copy it never
// made, as Wine's does for a file another program holds, and names can appear in the instant
// before the tool makes a folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>

#include "app/run_sequence.h"
#include "fake_pc.h"
#include "servicing/reserve_rights.h"

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

// The run fails with `code` before the shell is asked to copy anything.
void ExpectRefusedBeforeTheShell(int code) {
    EXPECT_EQ(RunCastorel(), 1);
    EXPECT_EQ(UpdateResult(), "Copy failed with error code [" + std::to_string(code) + "]");
    EXPECT_TRUE(Pc().shellCopies.empty());
}

// A file the shell had to replace and left behind never passes, however like FU's it looks:
// before the shell, the tool gives it a time FU's file can't have, and one the reserve's volume
// keeps. A FAT volume keeps none outside its years (and here leaves a file's time as it was),
// so there FU's time is no reason to fail.
TEST(ReserveCopy, WhatTheShellReportsDoneIsCheckedWhole) {
    constexpr uint64_t kFatFirst = 119'600'496'000'000'000;  // 1980-01-01 12:00 UTC
    constexpr uint64_t k1970 = 116'444'736'000'000'000;
    constexpr uint64_t k2110 = 160'100'000'000'000'000;
    struct Case {
        const char* name;
        const char16_t* reserveFile;  // where the reserve already has a file; null: none
        const char16_t* content;
        bool shellCopies;    // false: reports success and writes nothing
        int64_t shellShift;  // how far the copy moves a file's time, as FAT may
        bool fuFolder;       // FU holds an empty folder instead
        const char* result;
        uint64_t fuTime = kWritten;
        bool fat = false;
    };
    const char* const passed = "Copy successfully";
    const char* const stale = "Copy failed with error code [29]";
    const int64_t second = static_cast<int64_t>(kSecond);
    const char16_t* const alike = u"\u00e1.bin";
    const Case cases[] = {
        {"nothing arrived", nullptr, u"", false, 0, false, stale},
        {"a look-alike left behind", alike, u"new", false, 0, false, stale},
        {"one in other case left behind", u"\u00c1.BIN", u"new", false, 0, false, stale},
        {"another size left behind", alike, u"older", false, 0, false, stale},
        {"a folder that never came", nullptr, u"", false, 0, true, stale},
        {"replaced", alike, u"old", true, 0, false, passed},
        {"replaced under a name in other case", u"\u00c1.BIN", u"old", true, 0, false, passed},
        {"FAT's 2 s, later", nullptr, u"", true, 2 * second, false, passed},
        {"FAT's 2 s, earlier", nullptr, u"", true, -2 * second, false, passed},
        {"later by more", nullptr, u"", true, 2 * second + 1, false, stale},
        {"earlier by more", nullptr, u"", true, -2 * second - 1, false, stale},
        {"1970 onto FAT, replaced", alike, u"new", true, 0, false, passed, k1970, true},
        {"1970 onto FAT, left behind", alike, u"new", false, 0, false, stale, k1970, true},
        {"just into FAT's years, left", alike, u"new", false, 0, false, stale,
         kFatFirst + 1800 * kSecond, true},
        {"just into FAT's years, replaced", alike, u"new", true, 0, false, passed,
         kFatFirst + 1800 * kSecond, true},
        {"2110 onto FAT, replaced", alike, u"new", true, 0, false, passed, k2110, true},
        {"2110 onto FAT, left behind", alike, u"new", false, 0, false, stale, k2110, true},
        {"FAT's years onto FAT, its time not kept", alike, u"new", true, 10 * second, false, stale,
         kWritten, true},
        {"1970 onto NTFS, replaced", alike, u"new", true, 0, false, passed, k1970},
        {"1970 onto NTFS, left behind", alike, u"new", false, 0, false, stale, k1970},
        {"1970 onto NTFS, its time not kept", alike, u"new", true, 10 * second, false, stale,
         k1970},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcWithFlagOnD();
        Pc().entries.erase(u"C:\\PKG\\FU\\A.BIN");
        if (c.fuFolder) {
            Pc().AddFolder(u"C:\\pkg\\FU\\empty");
        } else {
            Pc().AddFile(u"C:\\pkg\\FU\\\u00e1.bin", u"new");
            Pc().SetLastWrite(u"C:\\pkg\\FU\\\u00e1.bin", c.fuTime);
        }
        Pc().shellCopiesNothing = !c.shellCopies;
        Pc().shellTimeShift = c.shellShift;
        Pc().drivesWithoutOwners = c.fat ? u"D" : u"";
        if (c.reserveFile) {
            const std::u16string file = std::u16string(kReserve) + u"\\" + c.reserveFile;
            Pc().AddFile(file, c.content);
            Pc().SetLastWrite(file, c.fuTime);
        }
        EXPECT_EQ(RunCastorel(), std::string(c.result) == passed ? 0 : 1);
        EXPECT_EQ(Pc().shellCopies.size(), 1u);
        EXPECT_EQ(UpdateResult(), c.result);
        if (c.reserveFile) {  // only ever its time changes, never its bytes
            EXPECT_EQ(Narrow(Pc().FileText(std::u16string(kReserve) + u"\\" + c.reserveFile)),
                      Narrow(c.shellCopies ? u"new" : c.content));
        }
    }
    // One entry of the reserve answers for one of FU's names: not for a second name FU gains
    // during the copy.
    PcWithFlagOnD();
    Pc().appearingDuringCopy[u"C:\\PKG\\FU\\A.bin"] = FakeEntry{false, u"new", 0, kWritten};
    EXPECT_EQ(RunCastorel(), 1);
    EXPECT_EQ(UpdateResult(), stale);
    // A volume that answers success to the mark and keeps the time it had would pass a file the
    // shell left behind: refused before the shell.
    PcWithFlagOnD();
    Pc().AddFile(std::u16string(kReserve) + u"\\a.bin", u"old");
    Pc().drivesIgnoringChanges = u"D";
    ExpectRefusedBeforeTheShell(29);
}

// Where a reserve folder keeps two entries the system takes for one of FU's names, its own
// lookup, which the shell uses, may find either, whichever the tool judged: a file or a folder,
// exactly FU's name or neither.
TEST(ReserveCopy, TwoReserveEntriesThatAnswerForOneOfFusNamesAreRefused) {
    const std::pair<const char16_t*, const char16_t*> pairs[] = {
        {u"\u00e9\u00e9", u"\u00c9\u00c9"}, {u"\u00c9\u00e9", u"\u00e9\u00c9"}};
    for (const bool folder : {false, true}) {
        for (const auto& [one, other] : pairs) {
            SCOPED_TRACE(testing::Message() << folder << Narrow(one));
            PcWithFlagOnD();
            const std::u16string fu = u"C:\\pkg\\FU\\\u00e9\u00e9";
            folder ? Pc().AddFolder(fu) : Pc().AddFile(fu, u"new");
            Pc().AddFolder(kReserve);
            for (const char16_t* const name : {one, other}) {
                Pc().entries.emplace(u"D:\\PRELOAD\\RM_RESERVE\\" + std::u16string(name),
                                     FakeEntry{folder, u"kept"});
            }
            ExpectRefusedBeforeTheShell(52);
        }
    }
}

TEST(ReserveCopy, TheToolMakesTheMissingReserveFoldersBeforeTheShell) {
    PcWithFlagOnD();
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_EQ(Pc().madeFolders,
              (std::vector<std::u16string>{u"D:\\PRELOAD", u"D:\\PRELOAD\\RM_RESERVE"}));
    for (const std::u16string& made : Pc().madeFolders) {
        EXPECT_EQ(Pc().rightsGiven.at(made), kAdministratorsFolderRights);
    }

    PcWithFlagOnD();
    Pc().AddFolder(u"D:\\preload");
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_EQ(Pc().madeFolders, std::vector<std::u16string>{u"D:\\PRELOAD\\RM_RESERVE"});

    // A copy that fails its checks, or has nothing to copy, makes nothing. Two names in FU
    // that the reserve would take for one file are refused, beyond ASCII too.
    const std::pair<std::u16string, int> refused[] = {
        {u"b.", 123}, {u"c ", 123}, {u"A.bin", 52}, {u"\u00e9T\u00e9\\\u03a3", 52}};
    for (const auto& [fuEntry, code] : refused) {
        SCOPED_TRACE(Narrow(fuEntry));
        PcWithFlagOnD();
        Pc().AddFile(u"C:\\pkg\\FU\\\u00e9t\u00e9\\\u03c3");
        Pc().entries.emplace(u"C:\\PKG\\FU\\" + fuEntry, FakeEntry{false, u""});
        ExpectRefusedBeforeTheShell(code);
        EXPECT_TRUE(Pc().madeFolders.empty());
    }
    // A volume that answers success to the rights the tool gives and keeps others: the folder the
    // first run makes fails as the one the next run finds.
    for (const bool made : {true, false}) {
        PcWithFlagOnD();
        Pc().drivesIgnoringChanges = u"D";
        if (!made) {
            Pc().AddFolder(u"D:\\preload");
            Pc().entries.at(u"D:\\PRELOAD").noDacl = true;
        }
        ExpectRefusedBeforeTheShell(5);
        EXPECT_EQ(Pc().madeFolders.size(), made ? 1u : 0u);
    }
    // A reserve file that can't be given its time (immutable) fails with the system's number.
    PcWithFlagOnD();
    Pc().AddFile(std::u16string(kReserve) + u"\\a.bin", u"old");
    Pc().entries.at(u"D:\\PRELOAD\\RM_RESERVE\\A.BIN").markError = 5;
    ExpectRefusedBeforeTheShell(5);
    // Between the check and the making, someone else puts a name there: it is judged as one
    // that was there all along.
    FakeEntry userFolder{true, u"", 91};
    userFolder.owner = u"S-1-5-21-1-2-3-1002";
    const std::tuple<const char16_t*, FakeEntry, int> appearing[] = {
        {u"D:\\PRELOAD", {false, u"in the way"}, 80},
        {u"D:\\PRELOAD\\RM_RESERVE", {false, u"in the way"}, 80},
        {u"D:\\PRELOAD", userFolder, 5},
        {u"D:\\PRELOAD\\RM_RESERVE", userFolder, 5},
    };
    for (const auto& [path, entry, code] : appearing) {
        SCOPED_TRACE(Narrow(path));
        PcWithFlagOnD();
        Pc().appearing[path] = entry;
        ExpectRefusedBeforeTheShell(code);
    }
    PcWithFlagOnD();
    Pc().appearing[u"D:\\PRELOAD"] = FakeEntry{true, u"", 90};
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_EQ(UpdateResult(), "Copy successfully");
    EXPECT_EQ(Pc().shellCopies.size(), 1u);
    // An empty FU passes without asking the shell, which might raise a dialog.
    PcWithFlagOnD();
    Pc().entries.erase(u"C:\\PKG\\FU\\A.BIN");
    EXPECT_EQ(RunCastorel(), 0);
    EXPECT_TRUE(Pc().madeFolders.empty());
    EXPECT_TRUE(Pc().shellCopies.empty());
}

// Every folder the copy writes into, and every file it replaces, is the administrators' alone:
// by its owner, or the copy fails; by its rights, which the tool takes over where they let
// anyone else change it. After the copy, each folder is still the folder it was, and one an
// administrator owns.
TEST(ReserveCopy, WhatTheCopyWritesIntoIsTheAdministratorsAlone) {
    const char16_t* const user = u"S-1-5-11";
    struct Case {
        const char* name;
        AccessEntry entry;
        bool noDacl;
        bool folderTaken;
        bool fileTaken;
    };
    const auto entry = [](bool allows, uint8_t inheritance, uint32_t mask, const char16_t* sid) {
        AccessEntry made{
            allows, (inheritance & 1) != 0, (inheritance & 2) != 0, (inheritance & 4) != 0, mask,
            {}};
        ComposeText(made.sid, u"%s", {sid});
        return made;
    };
    constexpr uint8_t itself = 1, subfolders = 2, files = 4, all = 7;
    std::vector<Case> cases = {
        {"read and execute", entry(true, all, 0x1200a9, user), false, false, false},
        {"an administrator's", entry(true, all, 0x1f01ff, u"S-1-5-32-544"), false, false, false},
        {"a member's", entry(true, all, 0x1f01ff, u"S-1-5-21-1-2-3-1002"), false, false, false},
        {"denied", entry(false, all, 0x1f01ff, user), false, false, false},
        {"for files made inside", entry(true, files, 0x2, user), false, true, false},
        {"for folders made inside", entry(true, subfolders, 0x2, user), false, true, false},
        {"no DACL", entry(false, all, 0, user), true, true, true},
    };
    const uint32_t folderRights[] = {0x2,     0x4,     0x40,       0x10000,
                                     0x40000, 0x80000, 0x10000000, 0x40000000};
    const uint32_t fileRights[] = {0x2,     0x4,     0x10,       0x100,     0x10000,
                                   0x40000, 0x80000, 0x10000000, 0x40000000};
    for (const uint32_t right : {0x2u, 0x4u, 0x10u, 0x40u, 0x100u, 0x10000u, 0x40000u, 0x80000u,
                                 0x10000000u, 0x40000000u}) {
        const auto in = [right](const auto& rights) {
            return std::find(std::begin(rights), std::end(rights), right) != std::end(rights);
        };
        cases.push_back(
            {"a right", entry(true, itself, right, user), false, in(folderRights), in(fileRights)});
    }
    const std::u16string sub = u"D:\\PRELOAD\\RM_RESERVE\\SUB";
    const std::u16string file = sub + u"\\B.BIN";
    // Besides what FU brings: a file beside its file, a folder FU does not enter with a file in
    // it. Recovery tools read them all as administrators.
    const std::u16string besideFile = sub + u"\\KEEP.ME";
    const std::u16string other = u"D:\\PRELOAD\\RM_RESERVE\\OTHER";
    const std::u16string inOther = other + u"\\DEEP.INF";
    const auto pcReplacingFile = [&] {
        PcWithFlagOnD();
        Pc().AddFile(u"C:\\pkg\\FU\\sub\\b.bin");
        for (const std::u16string& kept : {file, besideFile, inOther}) Pc().AddFile(kept, u"old");
    };
    const std::u16string judgedEntries[] = {
        u"D:\\PRELOAD", u"D:\\PRELOAD\\RM_RESERVE", sub, file, besideFile, other, inOther};
    for (const std::u16string& judged : judgedEntries) {
        const bool isFile = judged == file || judged == besideFile || judged == inOther;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << Narrow(judged) << ", " << c.name << " " << std::hex << c.entry.mask);
            const bool taken = isFile ? c.fileTaken : c.folderTaken;
            // Rights that can't be set fail the copy with the system's number.
            for (const int rightsError : {0, 1307}) {
                pcReplacingFile();
                Pc().administrators[u"S-1-5-21-1-2-3-1002"] = Membership::Member;
                FakeEntry& rights = Pc().entries.at(judged);
                rights.dacl = {c.entry};
                rights.noDacl = c.noDacl;
                rights.rightsError = rightsError;
                RunCastorel();
                EXPECT_EQ(Pc().takenOver.size(), taken && rightsError == 0);
                // A folder's rights pass on to all the shell makes in it; a file's are its own.
                if (taken && rightsError == 0) {
                    EXPECT_EQ(Pc().rightsGiven.at(judged),
                              isFile ? kAdministratorsFileRights : kAdministratorsFolderRights);
                }
                EXPECT_EQ(UpdateResult(), taken && rightsError != 0
                                              ? "Copy failed with error code [1307]"
                                              : "Copy successfully");
            }
        }
        SCOPED_TRACE(Narrow(judged));
        // A user's folder or file is never copied into, nor one another program may write
        // through a handle it opened before the rights were taken over.
        pcReplacingFile();
        Pc().SetOwner(judged, user);
        ExpectRefusedBeforeTheShell(5);
        pcReplacingFile();
        Pc().entries.at(judged).heldForWriting = true;
        ExpectRefusedBeforeTheShell(32);
        if (isFile || judged == other) continue;
        // A folder put in the tool's place during the copy, or a user's after it, took what the
        // shell wrote.
        PcWithFlagOnD();
        Pc().AddFolder(sub);
        Pc().AddFile(u"C:\\pkg\\FU\\sub\\b.bin");
        Pc().swappedDuringCopy = {judged};
        EXPECT_EQ(RunCastorel(), judged != sub ? 1 : 0);  // a folder below by its owner alone
    }
    // A link FU does not enter leads wherever it was made to, whoever owns it.
    for (const std::u16string owner : {u"S-1-5-32-544", user}) {
        pcReplacingFile();
        FakeEntry& linked = Pc().entries[other + u"\\LINK"] = FakeEntry{true, u""};
        linked.link = true;
        linked.owner = owner;
        ExpectRefusedBeforeTheShell(4395);
        EXPECT_TRUE(Pc().takenOver.empty());
    }
    // The entries FU does not bring are opened through their folder by the name listed, so no
    // path's length limits them: a user's entry at any depth is refused, an administrator's
    // passes. One gone since the listing leaves nothing to judge.
    std::u16string deep = other;
    while (deep.size() < 2 * kMaxPath) deep += u"\\" + std::u16string(60, u'N');
    for (const std::u16string owner : {u"S-1-5-32-544", user}) {
        pcReplacingFile();
        Pc().AddFile(deep + u"\\DEEPER.INF");
        Pc().SetOwner(deep, owner);
        EXPECT_EQ(RunCastorel(), owner == user ? 1 : 0);
    }
    // Every entry of the reserve, from the drive's root down, FU's or not, is opened through its
    // folder by the name listed: one that can't be opened so fails with the system's number.
    for (const std::u16string& judged : judgedEntries) {
        SCOPED_TRACE(Narrow(judged));
        pcReplacingFile();
        Pc().entries.at(judged).openError = 123;
        ExpectRefusedBeforeTheShell(123);
    }
    // Rights taken over that the volume does not keep fail; on a volume that keeps no owners
    // (FAT), a user's leftover is no one's to judge, and nothing is taken over.
    for (const bool fat : {false, true}) {
        PcWithFlagOnD();
        Pc().AddFile(inOther, u"old");
        Pc().entries.at(inOther).noDacl = true;
        Pc().SetOwner(other, fat ? user : u"S-1-5-32-544");
        (fat ? Pc().drivesWithoutOwners : Pc().drivesIgnoringChanges) = u"D";
        EXPECT_EQ(RunCastorel(), fat ? 0 : 1);
        EXPECT_EQ(Pc().takenOver,
                  fat ? std::vector<std::u16string>{} : std::vector<std::u16string>{inOther});
    }
    pcReplacingFile();
    Pc().SetOwner(other, user);
    Pc().vanishingAfterListing = {other};
    EXPECT_EQ(RunCastorel(), 0);
    pcReplacingFile();
    Pc().SetOwner(u"C:\\pkg\\FU\\sub", user);
    EXPECT_EQ(RunCastorel(), 1);
    EXPECT_EQ(UpdateResult(), "Copy failed with error code [4395]");
    // A reserve file the system shows as a file, whose final path names another, is a link.
    pcReplacingFile();
    Pc().entries.at(file).leadsTo = u"C:\\Windows\\victim.txt";
    ExpectRefusedBeforeTheShell(4395);
    EXPECT_TRUE(Pc().takenOver.empty());
}

}  // namespace
