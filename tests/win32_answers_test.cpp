// Answers of the real Windows calls that no scenario can lay out: run under Wine only.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

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

// The judging open meets a handle that may write (for a folder: add entries) and not one that
// only reads: sharing modes govern data access, so an open for attributes and rights alone
// never would. The same open through the folder's handle, by the entry's name, meets it too.
TEST(Win32Answers, AHandleThatMayWriteRefusesTheJudgingOpen) {
    const wchar_t* const folder = L"C:\\held";
    const wchar_t* const file = L"C:\\held\\file.txt";
    CreateDirectoryW(folder, nullptr);
    CloseHandle(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
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
        HeldEntry judged{};
        EXPECT_EQ(HoldToGuard(reinterpret_cast<const char16_t*>(holder.path), judged),
                  holder.answer);
        ReleaseEntry(judged);
        if (holder.path == file) {
            HeldEntry parent{};
            ASSERT_EQ(HoldToGuard(u"C:\\held", parent), 0);
            EXPECT_EQ(HoldEntryIn(parent, u"file.txt", true, judged), holder.answer);
            ReleaseEntry(judged);
            ReleaseEntry(parent);
        }
        CloseHandle(held);
    }
}

// A path on the volume has no MAX_PATH of its own: the walk of the reserve reads it at any depth,
// where Wine's final path stops at 260 units.
TEST(Win32Answers, APathOnTheVolumeIsReadBeyondMaxPath) {
    std::wstring path = L"C:\\deep";
    CreateDirectoryW(path.c_str(), nullptr);
    path += L"\\" + std::wstring(200, L'd');
    CreateDirectoryW(path.c_str(), nullptr);
    HeldEntry folder{};
    ASSERT_EQ(HoldToGuard(reinterpret_cast<const char16_t*>(path.c_str()), folder), 0);
    static char16_t read[kVolumePathCapacity];
    EXPECT_EQ(ReadVolumePath(folder, read), 0);
    EXPECT_EQ(std::u16string(read), u"\\deep\\" + std::u16string(200, u'd'));
    HeldEntry file{};
    const std::u16string name(120, u'f');
    const std::wstring filePath = path + L"\\" + std::wstring(120, L'f');
    CloseHandle(CreateFileW((L"\\\\?\\" + filePath).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr));
    ASSERT_EQ(HoldEntryIn(folder, name.c_str(), false, file), 0);
    EXPECT_EQ(ReadVolumePath(file, read), 0);
    EXPECT_EQ(std::u16string(read), u"\\deep\\" + std::u16string(200, u'd') + u"\\" + name);
    ReleaseEntry(file);
    ReleaseEntry(folder);
}

}  // namespace
