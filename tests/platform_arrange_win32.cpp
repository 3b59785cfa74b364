#include <windows.h>

#include "platform_arrange.h"

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// A contract case starts from nothing at its paths, whatever an earlier run left there.
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + L"\\" + name);
            } else {
                DeleteFileW((path + L"\\" + name).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

void ArrangeFolder(const char16_t* path) {
    RemoveTree(Wide(path));
    CreateDirectoryW(Wide(path), nullptr);
}

void ArrangeFile(const char16_t* path, const std::u16string& content) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size() * 2), &written, nullptr);
    CloseHandle(file);
}

void ArrangeSecondName(const char16_t* existing, const char16_t* secondName) {
    CreateHardLinkW(Wide(secondName), Wide(existing), nullptr);
}

void ArrangeMove(const char16_t* from, const char16_t* to) { MoveFileW(Wide(from), Wide(to)); }

std::u16string FileContent(const char16_t* path) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return u"";
    char16_t units[512];
    DWORD read = 0;
    ReadFile(file, units, sizeof units, &read, nullptr);
    CloseHandle(file);
    return std::u16string(units, read / 2);
}
