// Console text: UTF-16 code units become single bytes, the way the Windows C runtime's
// standard output takes wide text. Bytes are gathered in a small block so a print is one write.
#include "platform/platform_operations.h"

namespace {

struct ConsoleBlock {
    char bytes[512];
    size_t count;
};

void FlushBlock(ConsoleBlock& block) {
    if (block.count > 0) WriteToStandardOutput(block.bytes, block.count);
    block.count = 0;
}

void PutByte(ConsoleBlock& block, char16_t unit) {
    if (block.count == sizeof(block.bytes)) FlushBlock(block);
    block.bytes[block.count++] = static_cast<char>(unit);
}

bool IsSingleByte(char16_t unit) { return unit <= 0xFF; }

}  // namespace

void PrintToConsole(const char16_t* format, std::initializer_list<FormatArg> args) {
    ConsoleBlock block{};
    ExpandFormat(format, args, [&block](char16_t unit) {
        PutByte(block, IsSingleByte(unit) ? unit : u'?');
        return true;
    });
    FlushBlock(block);
}

void EchoToConsole(const char16_t* text) {
    ConsoleBlock block{};
    for (const char16_t* unit = text; *unit && IsSingleByte(*unit); ++unit) PutByte(block, *unit);
    FlushBlock(block);
}
