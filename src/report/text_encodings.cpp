#include "report/text_encodings.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kHex[] = "0123456789abcdef";

void PutCodePoint(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// How many bytes the valid UTF-8 sequence at the start of `bytes` takes; 0 when it is none.
size_t Utf8SequenceLength(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const auto follows = [&](size_t i) { return i < bytes.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return follows(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!follows(1) || !follows(2)) return 0;
        const bool overlong = lead == 0xE0 && byte(1) < 0xA0;
        const bool surrogate = lead == 0xED && byte(1) >= 0xA0;
        return overlong || surrogate ? 0 : 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!follows(1) || !follows(2) || !follows(3)) return 0;
        const bool overlong = lead == 0xF0 && byte(1) < 0x90;
        const bool beyond = lead == 0xF4 && byte(1) >= 0x90;
        return overlong || beyond ? 0 : 4;
    }
    return 0;
}

// The code point of a valid sequence of `length` bytes.
char32_t CodePointOf(std::string_view sequence, size_t length) {
    const auto byte = [&](size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(sequence[i]));
    };
    if (length == 1) return byte(0);
    char32_t point = byte(0) & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) point = (point << 6) | (byte(i) & 0x3F);
    return point;
}

bool IsControl(char32_t point) { return point < 0x20 || (point >= 0x7F && point <= 0x9F); }

// Characters that show nothing, or change how the text around them is ordered or broken into
// lines: a name holding them can pass for another, or forge a line of the summary.
bool ReordersOrHides(char32_t point) {
    return point == 0x00AD || point == 0x061C || point == 0x115F || point == 0x1160 ||
           point == 0x180E || (point >= 0x200B && point <= 0x200F) ||
           (point >= 0x2028 && point <= 0x202E) || (point >= 0x2060 && point <= 0x2069) ||
           point == 0x3164 || point == 0xFEFF || point == 0xFFA0;
}

// `\x1b` for a control, `\u202e` for the others, as a terminal or a page shows them.
void PutEscape(std::string& out, char32_t point) {
    out += point <= 0xFF ? "\\x" : "\\u";
    for (int shift = point <= 0xFF ? 4 : 12; shift >= 0; shift -= 4) {
        out += kHex[(point >> shift) & 0xF];
    }
}

// Each sequence of valid UTF-8 as it is, or escaped when it must be shown.
template <typename Put>
std::string Shown(std::string_view utf8, Put put) {
    std::string shown;
    shown.reserve(utf8.size());
    while (!utf8.empty()) {
        const size_t length = std::max<size_t>(Utf8SequenceLength(utf8), 1);
        const char32_t point = CodePointOf(utf8, length);
        if (IsControl(point) || ReordersOrHides(point)) {
            PutEscape(shown, point);
        } else {
            put(shown, utf8.substr(0, length));
        }
        utf8.remove_prefix(length);
    }
    return shown;
}

}  // namespace

std::string Utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            PutCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else {
            PutCodePoint(out, high || low ? 0xFFFD : unit);
        }
    }
    return out;
}

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = Utf8SequenceLength(bytes);
        if (length == 0) {
            PutCodePoint(out, 0xFFFD);
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return out;
}

std::string ShownPath(const std::filesystem::path::string_type& path) {
#ifdef _WIN32
    return Utf8(std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), path.size()));
#else
    return ValidUtf8(path);
#endif
}

std::string TerminalText(std::string_view utf8) {
    return Shown(utf8, [](std::string& out, std::string_view sequence) { out += sequence; });
}

std::string CsvField(const std::string& value, bool text) {
    std::string field = value;
    if (text && !field.empty() && std::strchr("=+-@\t\r", field[0]) != nullptr) {
        field.insert(0, 1, '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string HtmlText(std::string_view utf8) {
    return Shown(utf8, [](std::string& out, std::string_view sequence) {
        switch (sequence[0]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += sequence;
        }
    });
}

std::string IsolatedHtmlText(std::string_view utf8) { return "<bdi>" + HtmlText(utf8) + "</bdi>"; }
