// Fixed-capacity UTF-16 text and printf-style composition with %s, %d and %c only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

/// Room for a path or a composed message, terminator included (MAX_PATH).
constexpr size_t kMaxPath = 260;

/// One argument of a format: %s takes Text, %d Number, %c Unit.
struct FormatArg {
    enum class Kind { Text, Number, Unit };
    Kind kind;
    const char16_t* text;
    int32_t number;
    char16_t unit;

    FormatArg(const char16_t* value) : kind(Kind::Text), text(value), number(0), unit(0) {}
    FormatArg(int32_t value) : kind(Kind::Number), text(nullptr), number(value), unit(0) {}
    FormatArg(char16_t value) : kind(Kind::Unit), text(nullptr), number(0), unit(value) {}
};

/// Code units before the terminator.
size_t TextLength(const char16_t* text);

/// Orders two terminated texts unit by unit, ASCII letters without regard to case, as the file
/// system tells names apart: negative, 0 or positive.
int CompareIgnoringAsciiCase(const char16_t* a, const char16_t* b);

/// Expands a format, handing each resulting code unit to `put(unit)` until it returns false.
/// A directive whose argument is missing or of another kind expands to nothing;
/// `%%` gives `%`; any other `%x` stands as it is.
template <typename Put>
void ExpandFormat(const char16_t* format, std::initializer_list<FormatArg> args, Put put);

/// Composes into a buffer of `capacity` units, always terminated. Returns true when the whole
/// text fit, false when it was cut to capacity - 1 units.
bool ComposeText(char16_t* buffer, size_t capacity, const char16_t* format,
                 std::initializer_list<FormatArg> args);

template <size_t N>
bool ComposeText(char16_t (&buffer)[N], const char16_t* format,
                 std::initializer_list<FormatArg> args) {
    return ComposeText(buffer, N, format, args);
}

// --- implementation of ExpandFormat ---

namespace text_format_detail {

// Decimal digits of a signed 32-bit number, minus sign included; returns the count.
size_t DecimalUnits(int32_t value, char16_t (&digits)[12]);

template <typename Put>
bool ExpandDirective(char16_t directive, const FormatArg* arg, Put& put) {
    if (directive == u'%') return put(u'%');
    const bool textArg = arg && arg->kind == FormatArg::Kind::Text && arg->text;
    if (directive == u's') {
        if (!textArg) return true;
        for (const char16_t* unit = arg->text; *unit; ++unit) {
            if (!put(*unit)) return false;
        }
        return true;
    }
    if (directive == u'd') {
        if (!arg || arg->kind != FormatArg::Kind::Number) return true;
        char16_t digits[12];
        const size_t count = DecimalUnits(arg->number, digits);
        for (size_t i = 0; i < count; ++i) {
            if (!put(digits[i])) return false;
        }
        return true;
    }
    if (directive == u'c') {
        if (!arg || arg->kind != FormatArg::Kind::Unit || arg->unit == 0) return true;
        return put(arg->unit);
    }
    return put(u'%') && put(directive);
}

}  // namespace text_format_detail

template <typename Put>
void ExpandFormat(const char16_t* format, std::initializer_list<FormatArg> args, Put put) {
    const FormatArg* next = args.begin();
    for (const char16_t* at = format; *at; ++at) {
        if (*at != u'%') {
            if (!put(*at)) return;
            continue;
        }
        const char16_t directive = at[1];
        if (directive == 0) {
            put(u'%');
            return;
        }
        ++at;
        const bool consumes = directive == u's' || directive == u'd' || directive == u'c';
        const FormatArg* arg = consumes && next != args.end() ? next : nullptr;
        if (arg) ++next;
        if (!text_format_detail::ExpandDirective(directive, arg, put)) return;
    }
}
