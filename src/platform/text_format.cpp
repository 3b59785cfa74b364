#include "platform/text_format.h"

size_t TextLength(const char16_t* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

int CompareIgnoringAsciiCase(const char16_t* a, const char16_t* b) {
    const auto fold = [](char16_t unit) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
    };
    for (;; ++a, ++b) {
        const char16_t x = fold(*a);
        const char16_t y = fold(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

namespace text_format_detail {

size_t DecimalUnits(int32_t value, char16_t (&digits)[12]) {
    // Widened so that the most negative number has a magnitude too.
    int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
    char16_t reversed[10];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t length = 0;
    if (value < 0) digits[length++] = u'-';
    while (count > 0) digits[length++] = reversed[--count];
    return length;
}

}  // namespace text_format_detail

bool ComposeText(char16_t* buffer, size_t capacity, const char16_t* format,
                 std::initializer_list<FormatArg> args) {
    if (capacity == 0) return false;
    size_t length = 0;
    bool fits = true;
    ExpandFormat(format, args, [&](char16_t unit) {
        if (length + 1 >= capacity) {
            fits = false;
            return false;
        }
        buffer[length++] = unit;
        return true;
    });
    buffer[length] = 0;
    return fits;
}
