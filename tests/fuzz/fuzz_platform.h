// The platform for the fuzz targets: file appends and console bytes are captured, everything
// else answers as an empty PC would. Also turns fuzz input into the program's kinds of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzCapture {
    std::u16string appendedPath;
    std::u16string appended;  // the units of the last AppendToFile
    size_t appends = 0;
    std::string console;  // bytes as written, before any LF translation
};

FuzzCapture& Captured();

/// Reads fuzz input as a stream of code units, numbers and choices.
struct FuzzInput {
    const uint8_t* data;
    size_t size;

    uint8_t Byte();
    int32_t Number();
    /// Up to `limit` non-zero code units, ended by a zero unit or the end of the input.
    std::u16string Text(size_t limit);
};
