// Every text that grows with its input, swept across the 260-unit capacity: whole runs with the
// executable's folder and name (and with them the fallback log path, the copy source, the
// companion source and the records that show them), the fixed-drive list, and records cut to
// fit. Under the sanitizers any overrun fails the run; the checks below catch cut paths and
// broken records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/run_sequence.h"
#include "fake_pc.h"

namespace {

const char16_t* const kSystemLog = u"c:\\System.sav\\Logs\\Castorel.log";

// A folder of exactly `length` units ending in `\`: drive C and segments of up to 40 units, or
// a bare relative folder when too short for a drive, or none at all.
std::u16string FolderOfLength(size_t length) {
    if (length == 0) return u"";
    if (length < 3) return std::u16string(length - 1, u'r') + u"\\";
    std::u16string folder = u"C:\\";
    while (folder.size() < length) {
        const size_t room = length - folder.size();
        const size_t segment = room > 41 ? 40 : room - 1;
        folder += std::u16string(segment, static_cast<char16_t>(u'a' + folder.size() % 26));
        folder += u"\\";
    }
    return folder;
}

// What the system hands back for a path of that length: at most 259 units.
std::u16string AsReported(const std::u16string& exePath) { return exePath.substr(0, kMaxPath - 1); }

std::u16string DirectoryOf(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? u"" : path.substr(0, slash + 1);
}

struct Layout {
    bool flag;
    bool logFolder;
    bool companion;
};

void CheckRun(const std::u16string& exePath, const Layout& layout) {
    ResetPc();
    Pc().driveTypes[u'C'] = kDriveFixed;
    Pc().modulePath = exePath;
    const std::u16string reported = AsReported(exePath);
    const std::u16string directory = DirectoryOf(reported);
    if (!directory.empty()) Pc().AddFolder(directory);
    // The empty folder is FU's longest path; a folder needs room for the `\*` that lists it.
    Pc().AddFile(directory + u"FU\\a", u"x");
    Pc().AddFolder(directory + u"FU\\subfolder");
    if (layout.flag) Pc().AddFile(u"C:\\Recovery\\_VLTRP2.FLG");
    if (layout.logFolder) Pc().AddFolder(u"c:\\System.sav\\Logs");
    Pc().AddFolder(u"c:\\Windows");
    std::u16string companionFolder = directory;
    const bool root = directory == u"\\" || (directory.size() == 3 && directory[1] == u':');
    if (!root && !companionFolder.empty()) companionFolder.pop_back();
    const std::u16string companion = companionFolder + u"\\QXCUST2.exe";
    if (layout.companion && companion.size() < kMaxPath) Pc().AddFile(companion, u"MZ");

    const int status = RunCastorel();

    // Every record is whole: it fits its buffer and ends the line. The log is the log
    // folder's, or beside the tool when that whole name fits, or none.
    const std::u16string fallback = directory + u"Castorel.log";
    const std::u16string expectedLog = layout.logFolder             ? std::u16string(kSystemLog)
                                       : fallback.size() < kMaxPath ? fallback
                                                                    : u"";
    for (const auto& [path, text] : Pc().appends) {
        ASSERT_LT(text.size(), kMaxPath);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n") << Narrow(text);
        EXPECT_EQ(Narrow(path), Narrow(expectedLog));
    }
    EXPECT_EQ(Pc().appends.empty(), expectedLog.empty());

    // Copies only ever use whole paths.
    const std::u16string source = directory + u"FU\\*";
    const bool sourceFits = (directory + u"FU\\subfolder\\*").size() < kMaxPath;
    EXPECT_EQ(Pc().shellCopies.size(), layout.flag && sourceFits ? 1u : 0u);
    for (const auto& [from, to] : Pc().shellCopies) EXPECT_EQ(Narrow(from), Narrow(source));
    const bool companionCopied = layout.companion && companion.size() < kMaxPath;
    ASSERT_EQ(Pc().fileCopies.size(), companionCopied ? 1u : 0u);
    if (companionCopied) {
        EXPECT_EQ(Narrow(Pc().fileCopies[0].first), Narrow(companion));
    }

    const bool fails = layout.flag && !sourceFits;
    EXPECT_EQ(status, fails ? 1 : 0);
    EXPECT_EQ(Pc().console.find("Copy failed with error code [206]") != std::string::npos, fails);
    const std::string result = fails ? "Result=FAIL\r\r\n" : "Result=PASS\r\r\n";
    ASSERT_GE(Pc().console.size(), result.size());
    EXPECT_EQ(Pc().console.substr(Pc().console.size() - result.size()), result);
}

TEST(LengthSweep, ExecutableFolderFromNoneTo300Units) {
    const Layout layouts[] = {
        {true, false, true}, {true, true, true}, {false, false, true}, {true, false, false}};
    for (size_t length = 0; length <= 300; ++length) {
        const std::u16string folder = FolderOfLength(length);
        ASSERT_EQ(folder.size(), length);
        for (const char16_t* name : {u"C.exe", u"Castorel.exe", u""}) {
            if (folder.empty() && !*name) continue;  // no path at all: the abnormal end
            for (const Layout& layout : layouts) {
                SCOPED_TRACE(testing::Message()
                             << "folder of " << length << " units, name " << Narrow(name)
                             << ", flag " << layout.flag << ", log folder " << layout.logFolder
                             << ", companion " << layout.companion);
                CheckRun(folder + name, layout);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// FU's entries whose paths, in FU or in the reserve, end short of the capacity, at it and past
// it, on a first run and on a re-run onto a reserve that holds them: a path that does not fit
// (a folder's with room for the `\*` that lists it) fails with 206 before the shell.
TEST(LengthSweep, FuEntriesAcrossTheCapacityOnBothSidesOfTheCopy) {
    for (const std::u16string tool : {u"C:\\pkg\\", u"C:\\ppppppppppppppppppppppppppppppp\\"}) {
        for (size_t length = 215; length <= 245; ++length) {
            for (const int kind : {0, 1, 2, 3}) {  // a file or a folder; on a re-run from 2
                SCOPED_TRACE(testing::Message() << Narrow(tool) << ' ' << length << ' ' << kind);
                ResetPc();
                Pc().driveTypes[u'C'] = kDriveFixed;
                Pc().AddFile(u"C:\\Recovery\\_VLTRP2.FLG");
                Pc().modulePath = tool + u"Castorel.exe";
                const std::u16string name(length, u'n');
                const std::u16string source = tool + u"FU\\" + name;
                const std::u16string copied = u"C:\\preload\\RM_Reserve\\" + name;
                for (const std::u16string& path : {source, kind >= 2 ? copied : source}) {
                    (kind & 1) != 0 ? Pc().AddFolder(path) : Pc().AddFile(path);
                }
                const size_t longest = std::max(source.size(), copied.size()) + (kind & 1) * 2;
                EXPECT_EQ(RunCastorel(), longest < kMaxPath ? 0 : 1);
                EXPECT_EQ(Pc().console.find("[206]") == std::string::npos, longest < kMaxPath);
            }
        }
    }
}

TEST(LengthSweep, FixedDriveListFromNoneToAll26) {
    for (size_t count = 0; count <= 26; ++count) {
        SCOPED_TRACE(count);
        ResetPc();
        std::u16string list;
        for (size_t i = 0; i < count; ++i) {
            const char16_t letter = static_cast<char16_t>(u'Z' - i);
            Pc().driveTypes[letter] = kDriveFixed;
            list = std::u16string(1, letter) + u":\\;" + list;
        }
        if (count > 0) Pc().AddFile(u"Z:\\Recovery\\_VLTRP2.FLG");
        Pc().AddFile(u"C:\\pkg\\FU\\a");
        EXPECT_EQ(RunCastorel(), 0);
        const std::u16string log = Pc().FileText(u"C:\\pkg\\Castorel.log");
        EXPECT_NE(log.find(u"Fixed list [" + list + u"]\r\n"), std::u16string::npos);
        EXPECT_EQ(Pc().shellCopies.size(), count > 0 ? 1u : 0u);
    }
}

// A record cut to fit still ends its line, and never parts a surrogate pair: it steps back
// only over a real pair, never over a lone surrogate.
TEST(LengthSweep, RecordsAroundTheCapacityAreCutWhole) {
    const char16_t* const path = u"C:\\Logs\\Castorel.log";
    auto logged = [path](const std::u16string& text) {
        ResetPc();
        Pc().AddFolder(u"C:\\Logs");
        LogFile log{};
        ComposeText(log.path, u"%s", {path});
        log.folder = IdentifyFolderOf(path);
        AppendComposedRecord(log, u"%s\r\n", {text.c_str()});
        AppendComposedRecord(log, u"next\r\n", {});
        return Pc().FileText(path);
    };
    for (size_t length = 240; length <= 270; ++length) {
        const std::u16string cut = std::u16string(length, u'a').substr(0, kMaxPath - 3);
        EXPECT_EQ(logged(std::u16string(length, u'a')), cut + u"\r\nnext\r\n") << length;
    }
    // The pair at the edge is, as the prefix shortens, the first and the last there are.
    const std::u16string pairs = u"\U00010000\U0010FFFF\U0001F600";
    for (size_t prefix = kMaxPath - 8; prefix < kMaxPath; ++prefix) {
        const std::u16string text = std::u16string(prefix, u'a') + pairs;
        // A pair would start at the last place before CR LF: it goes whole to the next line.
        const bool pairAtTheEdge = prefix <= kMaxPath - 4 && (kMaxPath - 4 - prefix) % 2 == 0;
        const size_t keep = pairAtTheEdge ? kMaxPath - 4 : kMaxPath - 3;
        EXPECT_EQ(logged(text), text.substr(0, keep) + u"\r\nnext\r\n") << prefix;
    }
    const std::u16string lone(300, char16_t{0xDADA});
    EXPECT_EQ(logged(lone), lone.substr(0, kMaxPath - 3) + u"\r\nnext\r\n");
    const std::u16string unpaired = std::u16string(kMaxPath - 4, u'a') + char16_t{0xD83D} +
                                    std::u16string(9, char16_t{0xE000});
    EXPECT_EQ(logged(unpaired), unpaired.substr(0, kMaxPath - 3) + u"\r\nnext\r\n");
}

}  // namespace
