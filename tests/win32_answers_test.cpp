// Answers of the real Windows calls that no scenario can lay out: run under Wine only.
#include <gtest/gtest.h>

#include "platform/platform_operations.h"

namespace {

// A log folder that exists but can't be opened must not be taken as pinned: the log then goes
// beside the tool rather than nowhere.
TEST(Win32Answers, AFolderThatCantBeOpenedHasNoIdentity) {
    EXPECT_FALSE(IdentifyFolderOf(u"C:\\missing\\Castorel.log").known);
    EXPECT_TRUE(IdentifyFolderOf(u"C:\\windows\\win.ini").known);
}

}  // namespace
