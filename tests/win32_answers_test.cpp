// Answers of the real Windows calls that no scenario can lay out: run under Wine only.
#include <windows.h>
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

// Lets anything pass: the sharing answer alone is under test.
struct TrustingGuard final : RightsGuard {
    bool TrustsOwner(OwnerAnswer, const char16_t*) override { return true; }
    bool OpensToOthers(const AccessEntry&) override { return false; }
};

// The judging open meets a handle that may write (for a folder: add entries) and not one that
// only reads: sharing modes govern data access, so an open for attributes and rights alone
// never would.
TEST(Win32Answers, AHandleThatMayWriteRefusesTheJudgingOpen) {
    const wchar_t* const folder = L"C:\\held";
    const wchar_t* const file = L"C:\\held\\file.txt";
    CreateDirectoryW(folder, nullptr);
    CloseHandle(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    TrustingGuard guard;
    const uint64_t mark = 120'000'000'000'000'000;
    struct Holder {
        const wchar_t* path;
        DWORD access;
        int answer;
    };
    for (const Holder& holder :
         {Holder{file, FILE_WRITE_DATA, kErrorSharingViolation},
          Holder{file, FILE_APPEND_DATA, kErrorSharingViolation}, Holder{file, FILE_READ_DATA, 0},
          Holder{folder, FILE_ADD_FILE, kErrorSharingViolation},
          Holder{folder, FILE_LIST_DIRECTORY, 0}}) {
        SCOPED_TRACE(testing::Message() << holder.access << (holder.path == file ? " file" : ""));
        const HANDLE held = CreateFileW(
            holder.path, holder.access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const int answer =
            holder.path == file
                ? GuardAndMarkFile(reinterpret_cast<const char16_t*>(file), guard, mark).error
                : GuardFolder(reinterpret_cast<const char16_t*>(folder), guard, nullptr);
        EXPECT_EQ(answer, holder.answer);
        CloseHandle(held);
    }
}

}  // namespace
