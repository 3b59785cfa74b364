#include "report/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotRegular = ", not a regular file";

#ifdef _WIN32
HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::string SystemMessage(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    return {information.dwVolumeSerialNumber,
            (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
        return std::nullopt;
    }
    return IdentityOf(information);
}

// Shared for everything, so that reading a log never stands in the way of the program that
// writes it; a folder opens only as such, with backup semantics.
HANDLE OpenShared(const fs::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
#else
FileIdentity IdentityOf(const struct stat& information) {
    return {static_cast<uint64_t>(information.st_dev), static_cast<uint64_t>(information.st_ino)};
}

fs::file_type TypeOf(mode_t mode) {
    if (S_ISREG(mode)) return fs::file_type::regular;
    if (S_ISDIR(mode)) return fs::file_type::directory;
    if (S_ISFIFO(mode)) return fs::file_type::fifo;
    if (S_ISCHR(mode)) return fs::file_type::character;
    if (S_ISBLK(mode)) return fs::file_type::block;
    if (S_ISSOCK(mode)) return fs::file_type::socket;
    return fs::file_type::unknown;
}

// The kind the listing gives, asked of the system only where it gives none; what is no folder
// and no regular file is looked at before it is opened.
fs::file_type TypeListed(int folder, const char* name, unsigned char type) {
    switch (type) {
        case DT_DIR:
            return fs::file_type::directory;
        case DT_REG:
            return fs::file_type::regular;
        case DT_LNK:
            return fs::file_type::symlink;
        case DT_UNKNOWN: {
            struct stat information {};
            return fstatat(folder, name, &information, AT_SYMLINK_NOFOLLOW) == 0
                       ? TypeOf(information.st_mode)
                       : fs::file_type::unknown;
        }
        default:
            return fs::file_type::unknown;
    }
}
#endif

}  // namespace

std::string WhyNoLog(const fs::file_status& status) {
    switch (status.type()) {
        case fs::file_type::regular:
            return "";
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::fifo:
            return std::string("a FIFO") + kNotRegular;
        case fs::file_type::character:
        case fs::file_type::block:
            return std::string("a device") + kNotRegular;
        case fs::file_type::socket:
            return std::string("a socket") + kNotRegular;
        default:
            return std::string("something") + kNotRegular;
    }
}

#ifdef _WIN32

Folder::~Folder() = default;

std::shared_ptr<const Folder> Folder::Open(const Folder*, const Name& path, const Name&,
                                           std::string&) {
    std::shared_ptr<Folder> folder(new Folder);
    folder->path_ = path;
    return folder;
}

namespace {

// A reparse point that stands for another place (a junction, a symbolic link, a mount point; or
// one whose tag the system does not give) is listed as a link, which the walk never enters:
// other reparse points (deduplicated, compressed, cloud files) are what they hold.
fs::file_type TypeListed(const WIN32_FIND_DATAW& found) {
    constexpr DWORD kNameSurrogate = 0x20000000;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (found.dwReserved0 == 0 || (found.dwReserved0 & kNameSurrogate) != 0)) {
        return fs::file_type::symlink;
    }
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? fs::file_type::directory
                                                                    : fs::file_type::regular;
}

}  // namespace

bool Folder::List(std::vector<Entry>& entries, std::string& reason) const {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((path_ / L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(GetLastError());
        return false;
    }
    do {
        const Name name = found.cFileName;
        if (name != L"." && name != L"..") entries.push_back({name, TypeListed(found)});
    } while (FindNextFileW(search, &found));
    const DWORD ended = GetLastError();
    FindClose(search);
    if (ended == ERROR_NO_MORE_FILES) return true;
    reason = SystemMessage(ended);
    return false;
}

std::optional<FileIdentity> Folder::Identify(const Name& name) const {
    return IdentifyFile(path_ / name);
}

// A folder holds no handle here, so the files open at once are the threads' logs alone.
size_t OpenFilesAllowed(size_t wanted) { return wanted; }

LogFile::~LogFile() {
    if (handle_ != -1) CloseHandle(HandleOf(handle_));
}

// Only a file on a disk counts: a device or a pipe reports another type (Wine opens a Unix FIFO
// or device without waiting, as a pipe or a character device), and a folder has the directory
// attribute.
LogFile::Opened LogFile::Open(const Folder*, const Folder::Name&, const Folder::Name& path,
                              std::string& reason) {
    const HANDLE file = OpenShared(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(GetLastError());
        return Opened::Failed;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    const DWORD type = GetFileType(file);
    BY_HANDLE_FILE_INFORMATION information;
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reason = WhyNoLog(fs::file_status(type == FILE_TYPE_PIPE   ? fs::file_type::fifo
                                          : type == FILE_TYPE_CHAR ? fs::file_type::character
                                                                   : fs::file_type::unknown));
        return Opened::NoLog;
    }
    left_ = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    identity_ = IdentityOf(information);
    return Opened::Yes;
}

std::optional<size_t> LogFile::Read(char* buffer, size_t size, std::string& reason) {
    const auto wanted = static_cast<DWORD>(std::min<uint64_t>({size, left_, 1u << 30}));
    DWORD got = 0;
    if (wanted > 0 && !ReadFile(HandleOf(handle_), buffer, wanted, &got, nullptr)) {
        reason = SystemMessage(GetLastError());
        return std::nullopt;
    }
    left_ -= got;
    return got;
}

std::optional<FileIdentity> IdentifyFile(const fs::path& path) {
    const HANDLE file = OpenShared(path, 0);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const std::optional<FileIdentity> identity = IdentityOfHandle(file);
    CloseHandle(file);
    return identity;
}

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

std::optional<FileIdentity> StandardOutputIdentity() {
    return IdentityOfHandle(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool StandardOutputIsRegularFile() {
    return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_DISK;
}

#else

Folder::~Folder() {
    if (handle_ != -1) close(static_cast<int>(handle_));
}

std::shared_ptr<const Folder> Folder::Open(const Folder* parent, const Name& path, const Name& name,
                                           std::string& reason) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    const int handle = parent ? openat(static_cast<int>(parent->handle_), name.c_str(),
                                       kFlags | O_NOFOLLOW)
                              : open(path.c_str(), kFlags);
    if (handle < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<Folder> folder(new Folder);
    folder->handle_ = handle;
    return folder;
}

// The listing read a block at a time straight from the system: a DIR would cost a look at the
// folder and a buffer of its own for each of a fleet's million folders.
bool Folder::List(std::vector<Entry>& entries, std::string& reason) const {
    constexpr size_t kNameAt = offsetof(struct dirent64, d_name);
    thread_local std::vector<char> block(size_t{32} * 1024);
    const int folder = static_cast<int>(handle_);
    for (;;) {
        const ssize_t got = getdents64(folder, block.data(), block.size());
        if (got < 0) {
            reason = std::strerror(errno);
            return false;
        }
        if (got == 0) return true;
        const auto end = static_cast<size_t>(got);
        for (size_t at = 0; at + kNameAt < end;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(block.data() + at);
            const size_t length = entry->d_reclen;
            if (length <= kNameAt || length > end - at) break;
            const Name name(entry->d_name, strnlen(entry->d_name, length - kNameAt));
            at += length;
            if (name == "." || name == "..") continue;
            entries.push_back({name, TypeListed(folder, name.c_str(), entry->d_type)});
        }
    }
}

std::optional<FileIdentity> Folder::Identify(const Name& name) const {
    struct stat information {};
    if (fstatat(static_cast<int>(handle_), name.c_str(), &information, 0) != 0) {
        return std::nullopt;
    }
    return IdentityOf(information);
}

size_t OpenFilesAllowed(size_t wanted) {
    struct rlimit limit {};
    // Untold, the limit a process is usually given.
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::min<size_t>(wanted, 1024);
    if (limit.rlim_cur < wanted) {
        struct rlimit raised = limit;
        raised.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<size_t>(std::min<rlim_t>(limit.rlim_cur, wanted));
}

LogFile::~LogFile() {
    if (handle_ != -1) close(static_cast<int>(handle_));
}

// Without blocking: a FIFO put there since the look would otherwise wait for a writer.
LogFile::Opened LogFile::Open(const Folder* folder, const Folder::Name& name,
                              const Folder::Name& path, std::string& reason) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int file = folder ? openat(static_cast<int>(folder->handle_), name.c_str(), kFlags)
                            : open(path.c_str(), kFlags);
    if (file < 0) {
        reason = std::strerror(errno);
        return Opened::Failed;
    }
    handle_ = file;
    struct stat information {};
    if (fstat(file, &information) != 0) {
        reason = std::strerror(errno);
        return Opened::Failed;
    }
    if (!S_ISREG(information.st_mode)) {
        reason = WhyNoLog(fs::file_status(TypeOf(information.st_mode)));
        return Opened::NoLog;
    }
    left_ = static_cast<uint64_t>(information.st_size);
    identity_ = IdentityOf(information);
    return Opened::Yes;
}

std::optional<size_t> LogFile::Read(char* buffer, size_t size, std::string& reason) {
    const auto wanted = static_cast<size_t>(std::min<uint64_t>(size, left_));
    ssize_t got = 0;
    do {
        got = wanted > 0 ? read(static_cast<int>(handle_), buffer, wanted) : 0;
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    left_ -= static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
}

std::optional<FileIdentity> IdentifyFile(const fs::path& path) {
    struct stat information {};
    if (stat(path.c_str(), &information) != 0) return std::nullopt;
    return IdentityOf(information);
}

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

std::optional<FileIdentity> StandardOutputIdentity() {
    struct stat information {};
    if (fstat(STDOUT_FILENO, &information) != 0) return std::nullopt;
    return IdentityOf(information);
}

bool StandardOutputIsRegularFile() {
    struct stat information {};
    return fstat(STDOUT_FILENO, &information) == 0 && S_ISREG(information.st_mode);
}

#endif
