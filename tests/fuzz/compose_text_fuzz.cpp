// ComposeText with the program's own formats, arbitrary arguments and every capacity: the
// result is always terminated inside the buffer, is the whole expansion cut to fit, and says
// truthfully whether it was cut.
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_platform.h"
#include "platform/text_format.h"

namespace {

const char16_t* const kFormats[] = {
    u"%c:\\",
    u"%s%s;",
    u"%sRecovery\\_VLTRP2.FLG",
    u"%sFU\\*",
    u"%spreload\\RM_Reserve",
    u"%sCastorel.log",
    u"%s\\QXCUST2.exe",
    u"Fixed list [%s]\r\n",
    u"Copy [%s] to [%s]\r\n",
    u"Copy failed with error code [%d]\r\n",
    u"%s copy to %s\r\n",
    u"Copy file successful with return code: %d\r\n",
    u"Get exe path failed [%d]\r\n",
    u"\n\n================================ %s %s ========================================\r\n",
};

// An independent expansion for the formats above, which hold only %s, %d and %c.
std::u16string Expected(const char16_t* format, const std::u16string (&texts)[2], int32_t number,
                        char16_t unit) {
    std::u16string out;
    size_t nextText = 0;
    for (const char16_t* at = format; *at; ++at) {
        if (*at != u'%') {
            out += *at;
            continue;
        }
        const char16_t directive = *++at;
        if (directive == u's') out += texts[nextText++];
        if (directive == u'c' && unit != 0) out += unit;
        if (directive == u'd') {
            for (char c : std::to_string(number)) out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
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
    if (got.size() >= capacity) std::abort();
    if (fits != (expected.size() < capacity)) std::abort();
    if (got != expected.substr(0, capacity - 1)) std::abort();
    return 0;
}
