#include "report/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

LogFile::~LogFile() {
    if (handle_ != -1) CloseHandle(HandleOf(handle_));
}

// Only a file on a disk counts: a device or a pipe reports another type (Wine opens a Unix FIFO
// or device without waiting, as a pipe or a character device), and a folder has the directory
// attribute.
LogFile::Opened LogFile::Open(const fs::path& path, std::string& reason) {
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

bool IsSamePathSpelled(const fs::path& a, const fs::path& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::optional<FileIdentity> IdentifyFile(const fs::path& path) {
    const HANDLE file = OpenShared(path, 0);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    const bool read = GetFileInformationByHandle(file, &information) != FALSE;
    CloseHandle(file);
    if (!read) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

#else

LogFile::~LogFile() {
    if (handle_ != -1) close(static_cast<int>(handle_));
}

// Without blocking: a FIFO put there since the look would otherwise wait for a writer.
LogFile::Opened LogFile::Open(const fs::path& path, std::string& reason) {
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

bool IsSamePathSpelled(const fs::path& a, const fs::path& b) { return a == b; }

std::optional<FileIdentity> IdentifyFile(const fs::path& path) {
    struct stat information {};
    if (stat(path.c_str(), &information) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(information.st_dev),
                        static_cast<uint64_t>(information.st_ino)};
}

#endif
