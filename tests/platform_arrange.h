// Lays out and reads back what a platform contract case needs, on whichever platform the test
// binary links: the in-memory PC (fake_pc.cpp) or the real file system (platform_arrange_win32.cpp).
#pragma once

#include <string>

void ArrangeFolder(const char16_t* path);
void ArrangeFile(const char16_t* path, const std::u16string& content);
/// Gives an existing file a second name: on Windows a hard link, in the in-memory PC a link.
void ArrangeSecondName(const char16_t* existing, const char16_t* secondName);
/// Moves a file or folder, with all below it, to a new name; the folder it goes into exists.
void ArrangeMove(const char16_t* from, const char16_t* to);
std::u16string FileContent(const char16_t* path);
