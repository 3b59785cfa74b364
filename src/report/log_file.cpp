#include "report/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "report/system_files.h"

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
// Shared for everything, so that reading a log never stands in the way of the program that
// writes it; a folder opens only as such, with backup semantics.
HANDLE OpenShared(const fs::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
#else
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
