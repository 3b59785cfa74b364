// What the system reports of an opened file, judged: whether it is a link, and whether it is
// where it was meant to be. Portable so that the host tests cover the answers the system gives:
// reparse tags, drive letters, UNC shares, NT paths, roots, letter case.
#include "platform/platform_operations.h"

bool IsLinkReparsePoint(bool reparsePoint, uint32_t tag) {
    constexpr uint32_t kNameSurrogate = 0x20000000;
    return reparsePoint && (tag == 0 || (tag & kNameSurrogate) != 0);
}

bool IsFileLeafOfFolder(FinalPathReader& reader, const char16_t* leaf) {
    char16_t file[kFinalPathCapacity];
    char16_t folder[kFinalPathCapacity];
    for (const PathForm form :
         {PathForm::Dos, PathForm::Nt, PathForm::DosOpened, PathForm::NtOpened}) {
        if (reader.Read(form, file, folder)) return IsFinalPathOfLeafInFolder(file, folder, leaf);
    }
    return false;
}

bool IsFinalPathOfLeafInFolder(const char16_t* fileFinalPath, const char16_t* folderFinalPath,
                               const char16_t* leaf) {
    const size_t folderLength = TextLength(folderFinalPath);
    if (folderLength == 0) return false;
    for (size_t i = 0; i < folderLength; ++i) {
        if (fileFinalPath[i] != folderFinalPath[i]) return false;
    }
    // A root such as \\?\C:\ already ends with the separator.
    const char16_t* rest = fileFinalPath + folderLength;
    if (folderFinalPath[folderLength - 1] != u'\\') {
        if (*rest != u'\\') return false;
        ++rest;
    }
    // The leaf is ASCII in every use ("Castorel.log"); other units must match as they are.
    return CompareIgnoringAsciiCase(rest, leaf) == 0;
}

bool IsDosFinalPathOf(const char16_t* fileFinalPath, const char16_t* path) {
    const char16_t* const prefix = u"\\\\?\\";
    for (const char16_t* unit = prefix; *unit; ++unit, ++fileFinalPath) {
        if (*fileFinalPath != *unit) return false;
    }
    return CompareIgnoringAsciiCase(fileFinalPath, path) == 0;
}
