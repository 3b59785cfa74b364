// The numbers the system's calls answer with that the tool names, and those it logs of its own:
// Windows' error codes, so that a number in the log means one thing whoever gave it. The
// operator's guide explains each; the report's table of meanings (log/copy_errors.h) lists the
// same.
#pragma once

constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorNotEnoughMemory = 8;
constexpr int kErrorWriteFault = 29;
constexpr int kErrorSharingViolation = 32;
constexpr int kErrorDuplicateName = 52;
constexpr int kErrorFileExists = 80;
constexpr int kErrorInvalidName = 123;
constexpr int kErrorAlreadyExists = 183;
constexpr int kErrorFilenameExcedRange = 206;
constexpr int kErrorDirectory = 267;
constexpr int kErrorCancelled = 1223;
constexpr int kErrorReparsePointEncountered = 4395;
