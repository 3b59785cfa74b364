#include "fuzz_platform.h"

#include <cstring>

#include "platform/platform_operations.h"

FuzzCapture& Captured() {
    static FuzzCapture capture;
    return capture;
}

uint8_t FuzzInput::Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
}

int32_t FuzzInput::Number() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    int32_t number;
    std::memcpy(&number, &value, sizeof number);
    return number;
}

std::u16string FuzzInput::Text(size_t limit) {
    std::u16string text;
    while (size >= 2 && text.size() < limit) {
        const char16_t unit = static_cast<char16_t>(data[0] | data[1] << 8);
        data += 2;
        size -= 2;
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

size_t GetModulePath(char16_t* buffer, size_t) {
    buffer[0] = 0;
    return 0;
}
void RemoveLastComponent(char16_t*) {}
bool PathExists(const char16_t*) { return false; }
bool FolderExists(const char16_t*) { return false; }
bool IsLink(const char16_t*) { return false; }
unsigned QueryDriveType(const char16_t*) { return 1; }

void AppendToFile(const char16_t* path, const char16_t* units, size_t count) {
    Captured().appendedPath = path;
    Captured().appended.assign(units, count);
    ++Captured().appends;
}

bool CopyFileOverwrite(const char16_t*, const char16_t*) { return false; }
int ShellCopy(const char16_t*, const char16_t*) { return 0; }
LocalClock ReadLocalClock() { return {2018, 3, 7, 9, 5, 2}; }

void WriteToStandardOutput(const char* bytes, size_t count) {
    Captured().console.append(bytes, count);
}
