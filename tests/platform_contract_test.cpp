// What the logic relies on from the platform, checked against whichever platform this binary
// links: the in-memory PC in the unit tests, the real Windows calls in platform_win32_tests.
// Where the two disagreed, the unit tests would prove nothing about Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform_operations.h"

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

}  // namespace
