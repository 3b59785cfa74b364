#include "report/output_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "report/system_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32

OutputFile::~OutputFile() {
    Abandon();
    if (handle_ != -1 && owned_) CloseHandle(HandleOf(handle_));
}

void OutputFile::UseStandardOutput() {
    handle_ = reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
    owned_ = false;
}

// Shared with everyone, so that a second output naming the same file opens it too and is told
// apart by its identity; with the right to delete where it is granted, to remove a file it
// made through the very handle.
bool OutputFile::Open(const std::string& name, std::string& reason) {
    const fs::path path = fs::u8path(name);
    DWORD access = GENERIC_WRITE | DELETE;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 2 && file == INVALID_HANDLE_VALUE; ++tries) {
        file = CreateFileW(path.c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_ACCESS_DENIED) break;
        access = GENERIC_WRITE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(GetLastError());
        return false;
    }
    made_ = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = reinterpret_cast<intptr_t>(file);
    identity_ = IdentityOfHandle(file);
    return GetFileType(file) != FILE_TYPE_DISK || WriteBeside(reason);
}

// Beside the file the name leads to, by its final path: a link's target is what is replaced.
bool OutputFile::WriteBeside(std::string& reason) {
    std::wstring final(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(HandleOf(handle_), final.data(),
                                                   static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size()) {
        reason = SystemMessage(GetLastError());
        return false;
    }
    final.resize(length);
    target_ = final;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        besidePath_ = target_.parent_path() / (L"." + target_.filename().wstring() + L"." +
                                               std::to_wstring(GetCurrentProcessId()) + L"." +
                                               std::to_wstring(attempt) + L".part");
        const HANDLE beside = CreateFileW(besidePath_.c_str(), GENERIC_WRITE | DELETE,
                                          FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (beside != INVALID_HANDLE_VALUE) {
            beside_ = reinterpret_cast<intptr_t>(beside);
            besideIdentity_ = IdentityOfHandle(beside);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    reason = "can't write beside it: " + SystemMessage(GetLastError());
    return false;
}

bool OutputFile::Writes(const FileIdentity& identity) const {
    return identity_ == identity || besideIdentity_ == identity;
}

bool OutputFile::Write(const char* bytes, size_t count, std::string& reason) const {
    const HANDLE file = HandleOf(beside_ != -1 ? beside_ : handle_);
    while (count > 0) {
        DWORD written = 0;
        const auto part = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
        if (!WriteFile(file, bytes, part, &written, nullptr)) {
            reason = SystemMessage(GetLastError());
            return false;
        }
        if (written == 0) {
            reason = "nothing written";
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

// The file at the name is closed first: Windows replaces no file that is still open.
bool OutputFile::Finish(std::string& reason) {
    if (beside_ == -1) return true;
    CloseHandle(HandleOf(handle_));
    handle_ = -1;
    made_ = false;
    const std::wstring target = target_.wstring();
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    memcpy(rename->FileName, target.data(), rename->FileNameLength);
    if (!SetFileInformationByHandle(HandleOf(beside_), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
        reason = SystemMessage(GetLastError());
        return false;
    }
    CloseHandle(HandleOf(beside_));
    beside_ = -1;
    return true;
}

void OutputFile::Abandon() {
    FILE_DISPOSITION_INFO remove{TRUE};
    if (beside_ != -1) {
        SetFileInformationByHandle(HandleOf(beside_), FileDispositionInfo, &remove, sizeof remove);
        CloseHandle(HandleOf(beside_));
        beside_ = -1;
    }
    if (handle_ != -1 && owned_ && made_) {
        SetFileInformationByHandle(HandleOf(handle_), FileDispositionInfo, &remove, sizeof remove);
        made_ = false;
    }
}

#else

OutputFile::~OutputFile() {
    Abandon();
    if (handle_ != -1 && owned_) close(static_cast<int>(handle_));
    if (folder_ != -1) close(static_cast<int>(folder_));
}

void OutputFile::UseStandardOutput() {
    handle_ = STDOUT_FILENO;
    owned_ = false;
}

// Made where missing (O_EXCL tells that this open made it); else opened where it leads, a FIFO
// without waiting for a reader; a dangling link's target is made.
bool OutputFile::Open(const std::string& name, std::string& reason) {
    constexpr int kWrite = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    int file = open(name.c_str(), kWrite | O_CREAT | O_EXCL, 0666);
    made_ = file >= 0;
    if (file < 0 && errno == EEXIST) {
        file = open(name.c_str(), kWrite | O_NONBLOCK);
        if (file < 0 && errno == ENOENT) {
            file = open(name.c_str(), kWrite | O_CREAT, 0666);
            made_ = file >= 0;
        }
    }
    if (file < 0) {
        reason = std::strerror(errno);
        return false;
    }
    handle_ = file;
    fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
    struct stat information {};
    if (fstat(file, &information) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    identity_ = IdentityOf(information);
    if (!S_ISREG(information.st_mode) || WriteBeside(reason)) return true;
    if (made_ && IdentifyFile(name) == identity_) unlink(name.c_str());
    made_ = false;
    return false;
}

// Where the file opened lies is read from its open, not its name, which another may change;
// its folder is held, and must still hold it by that name. The file beside it gets the mode of
// the one it replaces, which the open made or found.
bool OutputFile::WriteBeside(std::string& reason) {
    std::error_code error;
    target_ = fs::read_symlink("/proc/self/fd/" + std::to_string(handle_), error);
    const int folder = error || !target_.is_absolute() ? -1
                                                       : open(target_.parent_path().c_str(),
                                                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat information {};
    struct stat there {};
    if (folder < 0 || fstat(static_cast<int>(handle_), &information) != 0 ||
        fstatat(folder, target_.filename().c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(IdentityOf(there) == IdentityOf(information))) {
        if (folder >= 0) close(folder);
        reason = "can't tell where it lies";
        return false;
    }
    folder_ = folder;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        besidePath_ = "." + target_.filename().native() + "." + std::to_string(getpid()) + "." +
                      std::to_string(attempt) + ".part";
        const int beside = openat(folder, besidePath_.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (beside >= 0) {
            beside_ = beside;
            fchmod(beside, information.st_mode & 07777);
            struct stat besideInformation {};
            if (fstat(beside, &besideInformation) == 0) {
                besideIdentity_ = IdentityOf(besideInformation);
            }
            return true;
        }
        if (errno != EEXIST) break;
    }
    reason = std::string("can't write beside it: ") + std::strerror(errno);
    return false;
}

bool OutputFile::Writes(const FileIdentity& identity) const {
    return identity_ == identity || besideIdentity_ == identity;
}

bool OutputFile::Write(const char* bytes, size_t count, std::string& reason) const {
    const int file = static_cast<int>(beside_ != -1 ? beside_ : handle_);
    while (count > 0) {
        const ssize_t written = write(file, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            reason = written < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool OutputFile::Finish(std::string& reason) {
    if (beside_ == -1) return true;
    const int folder = static_cast<int>(folder_);
    if (renameat(folder, besidePath_.c_str(), folder, target_.filename().c_str()) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    close(static_cast<int>(beside_));
    beside_ = -1;
    made_ = false;
    return true;
}

namespace {

// Removes the name from the folder while it still names the file of that identity.
void RemoveIfStill(int folder, const fs::path& name, const std::optional<FileIdentity>& identity) {
    struct stat information {};
    if (fstatat(folder, name.c_str(), &information, AT_SYMLINK_NOFOLLOW) == 0 &&
        IdentityOf(information) == identity) {
        unlinkat(folder, name.c_str(), 0);
    }
}

}  // namespace

// A file made at the name is removed only where it is written beside, which a regular file
// made always is.
void OutputFile::Abandon() {
    if (beside_ == -1) return;
    const int folder = static_cast<int>(folder_);
    RemoveIfStill(folder, besidePath_, besideIdentity_);
    if (made_) RemoveIfStill(folder, target_.filename(), identity_);
    close(static_cast<int>(beside_));
    beside_ = -1;
    made_ = false;
}

#endif
