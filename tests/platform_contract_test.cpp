// What the logic relies on from the platform, checked against whichever platform this binary
// links: the in-memory PC in the unit tests, the real Windows calls in platform_win32_tests.
// Where the two disagreed, the unit tests would prove nothing about Windows.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/platform_operations.h"
#include "platform_arrange.h"

namespace {

std::u16string RemovedLastComponent(std::u16string path) {
    path.resize(kMaxPath, u'\0');
    RemoveLastComponent(path.data());
    return path.c_str();
}

TEST(PlatformContract, RemoveLastComponentKeepsOnlyARootsBackslash) {
    EXPECT_EQ(RemovedLastComponent(u"C:\\pkg\\Castorel.exe"), u"C:\\pkg");
    EXPECT_EQ(RemovedLastComponent(u"C:\\a\\b c\\%s\\x.exe"), u"C:\\a\\b c\\%s");
    EXPECT_EQ(RemovedLastComponent(u"C:\\Castorel.exe"), u"C:\\");
    EXPECT_EQ(RemovedLastComponent(u"\\Castorel.exe"), u"\\");
    EXPECT_EQ(RemovedLastComponent(u"C:\\pkg\\"), u"C:\\pkg");
    EXPECT_EQ(RemovedLastComponent(u"Castorel.exe"), u"");
}

TEST(PlatformContract, ModulePathIsCutToTheBufferAndReportsItsSize) {
    char16_t whole[kMaxPath];
    const size_t length = GetModulePath(whole, kMaxPath);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, kMaxPath);
    EXPECT_EQ(TextLength(whole), length);

    char16_t cut[kMaxPath];
    std::fill(std::begin(cut), std::end(cut), u'#');
    EXPECT_EQ(GetModulePath(cut, 4), 4u);
    EXPECT_EQ(std::u16string(cut), std::u16string(whole, 3));
    EXPECT_EQ(cut[4], u'#');
}

// The kinds and sizes a copy's checks rely on, by a name and by a folder's listing alike.
TEST(PlatformContract, EntriesAreToldApartAndListed) {
    ArrangeFolder(u"C:\\contract");
    ArrangeFile(u"C:\\contract\\file.txt", u"xyz");
    ArrangeFolder(u"C:\\contract\\sub");
    struct Case {
        const char16_t* path;
        EntryKind kind;
        uint64_t size;
    };
    for (const Case& c : {Case{u"C:\\contract", EntryKind::Folder, 0},
                          Case{u"C:\\contract\\file.txt", EntryKind::File, 6},
                          Case{u"C:\\contract\\missing", EntryKind::Missing, 0}}) {
        const EntryFacts facts = QueryEntry(c.path);
        EXPECT_EQ(facts.kind, c.kind);
        EXPECT_EQ(facts.size, c.size);
        EXPECT_EQ(PathExists(c.path), c.kind != EntryKind::Missing);
    }
    // What this process made itself has a trusted owner, and one name.
    EXPECT_EQ(QueryOwner(u"C:\\contract"), Owner::Trusted);
    EXPECT_EQ(QueryOwner(u"C:\\contract\\file.txt"), Owner::Trusted);
    EXPECT_EQ(CountNames(u"C:\\contract\\file.txt"), 1u);
    struct Names : FolderVisitor {
        std::map<std::u16string, EntryKind> seen;
        bool Visit(const char16_t* name, const EntryFacts& facts) override {
            std::u16string folded = name;
            for (char16_t& unit : folded) unit = unit >= u'a' && unit <= u'z' ? unit - 32 : unit;
            seen[folded] = facts.kind;
            return true;
        }
    } names;
    EXPECT_EQ(ListFolder(u"C:\\contract", names), 0);
    EXPECT_EQ(names.seen, (std::map<std::u16string, EntryKind>{{u"FILE.TXT", EntryKind::File},
                                                              {u"SUB", EntryKind::Folder}}));
    EXPECT_NE(ListFolder(u"C:\\contract\\missing", names), 0);
}

TEST(PlatformContract, AppendWritesOnlyTheFileThePathNamesInTheFolderIdentified) {
    ArrangeFolder(u"C:\\contract");
    const FolderIdentity folder = IdentifyFolderOf(u"C:\\contract\\Castorel.log");
    ASSERT_TRUE(folder.known);
    EXPECT_FALSE(IdentifyFolderOf(u"C:\\missing\\Castorel.log").known);
    AppendToFile(u"C:\\contract\\Castorel.log", folder, u"ab", 2);
    AppendToFile(u"c:\\CONTRACT\\castorel.LOG", folder, u"cd", 2);  // letter case is no other file
    EXPECT_EQ(FileContent(u"C:\\contract\\Castorel.log"), u"abcd");

    ArrangeFile(u"C:\\contract\\win.ini", u"kept");
    ArrangeSecondName(u"C:\\contract\\win.ini", u"C:\\contract\\other.log");
    EXPECT_EQ(CountNames(u"C:\\contract\\other.log"), 2u);
    AppendToFile(u"C:\\contract\\other.log", folder, u"ef", 2);
    EXPECT_EQ(FileContent(u"C:\\contract\\win.ini"), u"kept");

    // The same path, but another folder than the one identified: nothing is made there.
    ArrangeFolder(u"C:\\contract.old");
    ArrangeMove(u"C:\\contract", u"C:\\contract.old\\moved");
    ArrangeFolder(u"C:\\contract");
    AppendToFile(u"C:\\contract\\Castorel.log", folder, u"gh", 2);
    EXPECT_EQ(QueryEntry(u"C:\\contract\\Castorel.log").kind, EntryKind::Missing);
    EXPECT_EQ(FileContent(u"C:\\contract.old\\moved\\Castorel.log"), u"abcd");
}

}  // namespace
