// What the report's reading and writing of files on each system share: a handle's identity and
// the system's words for an error. Included by log_file.cpp and output_file.cpp alone.
#pragma once

#include <optional>
#include <string>

#include "report/log_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#ifdef _WIN32
inline HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

inline std::string SystemMessage(DWORD error) {
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

inline FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    return {information.dwVolumeSerialNumber,
            (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

inline std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
        return std::nullopt;
    }
    return IdentityOf(information);
}

#else
inline FileIdentity IdentityOf(const struct stat& information) {
    return {static_cast<uint64_t>(information.st_dev), static_cast<uint64_t>(information.st_ino)};
}

#endif
