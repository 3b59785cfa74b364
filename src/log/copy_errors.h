// One short meaning for each number the tool can log in its "Copy failed with error code"
// record: its own numbers, then the shell's and the system's that the operator's guide lists.
// The report prints the meaning beside the number; a test checks that the guide lists the same.
#pragma once

struct CopyErrorMeaning {
    int number;
    const char* meaning;
};

inline constexpr CopyErrorMeaning kCopyErrorMeanings[] = {
    {2, "a file was not found"},
    {3, "FU is missing beside the tool, or a folder was not found"},
    {5, "the reserve is not the administrators' alone, or access denied"},
    {8, "not enough memory for a folder's listing"},
    {19, "the destination is write-protected"},
    {21, "the drive is not ready"},
    {29, "FU's files missing or stale in the reserve, or the mark not kept"},
    {32, "a file or reserve folder is held by another program, for writing or sharing no reading"},
    {52, "two names in one folder of FU or of the reserve are one name to Windows"},
    {80, "a name in the destination is taken by the other kind of thing"},
    {112, "the destination drive is full"},
    {113, "source and destination are the same file"},
    {114, "several sources but one destination file"},
    {115, "rename into another folder"},
    {116, "the source is a drive's root folder"},
    {117, "the copy was cancelled"},
    {118, "the destination is inside the source"},
    {120, "access to the source denied"},
    {121, "a source or destination path is too long"},
    {122, "several destinations"},
    {123, "a name inside FU ends in a dot or a space, or a reserve name can't be opened"},
    {124, "a source or destination path is not valid"},
    {125, "source and destination have the same parent folder"},
    {126, "the destination is an existing file"},
    {128, "the destination is an existing folder"},
    {129, "a file name is too long"},
    {130, "the destination is a read-only CD-ROM"},
    {131, "the destination is a read-only DVD"},
    {132, "the destination is a writable CD not yet formatted"},
    {133, "a file is too large for the destination"},
    {134, "the source is a read-only CD-ROM"},
    {135, "the source is a read-only DVD"},
    {136, "the source is a writable CD not yet formatted"},
    {183, "a path grew too long during the copy"},
    {206, "a path in FU, or where it goes in the reserve, is too long for 260 characters"},
    {267, "FU beside the tool is a file, not a folder"},
    {448, "a junction made without elevation was refused"},
    {1026, "an unknown error, typically a path not valid"},
    {1223, "the copy was cancelled without finishing"},
    {4395, "a link in FU or anywhere in the reserve, or a reserve folder put in the tool's place"},
    {65536, "an unspecified error at the destination"},
};

/// The number's meaning, or null for a number no one has described.
inline const char* CopyErrorMeaningOf(int number) {
    for (const CopyErrorMeaning& error : kCopyErrorMeanings) {
        if (error.number == number) return error.meaning;
    }
    return nullptr;
}
