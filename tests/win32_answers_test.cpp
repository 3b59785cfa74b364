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

// An account whose groups can't be worked out is never taken for an administrator.
TEST(Win32Answers, AnAccountUnknownHereHasNoKnownMembership) {
    EXPECT_EQ(QueryAdministratorsMembership(u"S-1-5-21-1-2-3-4444"), Membership::Unknown);
    EXPECT_EQ(QueryAdministratorsMembership(u"not a SID"), Membership::Unknown);
}

}  // namespace
