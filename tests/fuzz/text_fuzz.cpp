// The text code with arbitrary input, each half against an independent model:
// - ComposeText with the program's own formats, arbitrary arguments and every capacity: the
//   result is always terminated inside the buffer, is the whole expansion cut to fit, and says
//   truthfully whether it was cut;
// - the console conversion: a record's echo is its units up to the first one above U+00FF,
//   each as one byte; a printed substitution shows such units as '?'.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/platform_operations.h"

namespace {

std::string console;

const char16_t* const kFormats[] = {
    u"%c:\\", u"%s%s;", u"%sRecovery\\_VLTRP2.FLG", u"%sFU\\*", u"%spreload\\RM_Reserve",
    u"%sCastorel.log", u"%s\\QXCUST2.exe", u"Fixed list [%s]\r\n", u"Copy [%s] to [%s]\r\n",
    u"Copy failed with error code [%d]\r\n", u"%s copy to %s\r\n", u"Get exe path failed [%d]\r\n",
    u"\n\n================================ %s %s ========================================\r\n",
};

// Reads fuzz input as bytes, numbers and texts of non-zero code units.
struct Input {
    const uint8_t* data;
    size_t size;

    uint8_t Byte() { return size == 0 ? 0 : (--size, *data++); }
    int32_t Number() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return static_cast<int32_t>(value);
    }
    std::u16string Text(size_t limit) {
        std::u16string text;
        while (size >= 2 && text.size() < limit) {
            const char16_t unit = static_cast<char16_t>(Byte() | Byte() << 8);
            if (unit == 0) break;
            text += unit;
        }
        return text;
    }
};

// The expansion of the formats above, which hold only %s, %d and %c.
std::u16string Expected(const char16_t* format, const std::u16string (&texts)[2], int32_t number,
                        char16_t unit) {
    std::u16string out;
    size_t nextText = 0;
    for (const char16_t* at = format; *at; ++at) {
        const char16_t directive = *at == u'%' ? *++at : 0;
        if (!directive) out += *at;
        if (directive == u's') out += texts[nextText++];
        if (directive == u'c' && unit != 0) out += unit;
        if (directive == u'd') {
            for (char c : std::to_string(number)) out += static_cast<char16_t>(c);
        }
    }
    return out;
}

void CheckComposition(Input& input) {
    const char16_t* format = kFormats[input.Byte() % (sizeof kFormats / sizeof kFormats[0])];
    const size_t capacity = 1 + input.Byte() % kMaxPath;
    const int32_t number = input.Number();
    const char16_t unit = static_cast<char16_t>(input.Byte() | input.Byte() << 8);
    const std::u16string texts[2] = {input.Text(400), input.Text(400)};
    // Exactly `capacity` units on the heap, so that any overrun is caught.
    const std::unique_ptr<char16_t[]> buffer(new char16_t[capacity]);
    const std::u16string shape(format);
    const bool fits =
        shape.find(u"%c") != std::u16string::npos   ? ComposeText(buffer.get(), capacity, format, {unit})
        : shape.find(u"%d") != std::u16string::npos ? ComposeText(buffer.get(), capacity, format, {number})
                                                    : ComposeText(buffer.get(), capacity, format,
                                                                  {texts[0].c_str(), texts[1].c_str()});
    const std::u16string expected = Expected(format, texts, number, unit);
    const std::u16string got(buffer.get(), TextLength(buffer.get()));
    if (got.size() >= capacity || fits != (expected.size() < capacity)) std::abort();
    if (got != expected.substr(0, capacity - 1)) std::abort();
}

void CheckConsole(Input& input) {
    const std::u16string text = input.Text(4096);
    std::string echo;
    std::string printed = "ExePath=[";
    for (char16_t unit : text) printed += unit > 0xFF ? '?' : static_cast<char>(unit);
    for (char16_t unit : text) {
        if (unit > 0xFF) break;
        echo += static_cast<char>(unit);
    }
    console.clear();
    EchoToConsole(text.c_str());
    if (console != echo) std::abort();
    console.clear();
    PrintToConsole(u"ExePath=[%s]\r\n", {text.c_str()});
    if (console != printed + "]\r\n") std::abort();
}

}  // namespace

void WriteToStandardOutput(const char* bytes, size_t count) { console.append(bytes, count); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    if (input.Byte() & 1) {
        CheckConsole(input);
    } else {
        CheckComposition(input);
    }
    return 0;
}
