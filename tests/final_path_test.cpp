// Where an opened log really is, against where it was meant to be, in the forms the system's
// final paths take; Wine shows only local drives.
#include <gtest/gtest.h>

#include "platform/platform_operations.h"

namespace {

TEST(FinalPath, OnlyTheLeafInThatVeryFolderIsTheFileMeant) {
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
            << "file " << ::testing::PrintToString(std::u16string(c.file));
    }
}

}  // namespace
