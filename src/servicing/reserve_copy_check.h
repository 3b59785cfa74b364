// The copy of FU into the reserve, checked whole on both sides of the shell's copy: before it,
// so that the shell is never asked for a copy that can be seen to fail or that would write
// through a link; after it, because a shell may report success for work it did not finish.
#pragma once

#include <cstddef>

constexpr int kErrorPathNotFound = 3;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorWriteFault = 29;
constexpr int kErrorFileExists = 80;
constexpr int kErrorFilenameExcedRange = 206;
constexpr int kErrorDirectory = 267;
constexpr int kErrorReparsePointEncountered = 4395;

/// What the check before the copy found: 0 or the error number, and how many entries FU holds.
struct CopyPreflight {
    int error;
    size_t entries;
};

/// Checks FU (the folder itself and every folder and file in it, and the path each maps to in
/// the drive's reserve) and every folder of the reserve that already exists, down from the
/// drive's root (`X:\`), which must also have no untrusted owner. `fu` has no trailing `\`.
CopyPreflight CheckCopyBeforeShell(const char16_t* fu, const char16_t* driveRoot);

/// Whether every file of FU is in the drive's reserve with its size: 0, else kErrorWriteFault.
int CheckCopyAfterShell(const char16_t* fu, const char16_t* driveRoot);
