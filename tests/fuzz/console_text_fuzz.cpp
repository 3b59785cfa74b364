// The console conversion of arbitrary UTF-16: a record's echo is its units up to the first
// one above U+00FF, each as one byte; a printed substitution shows such units as '?'.
#include <cstdlib>
#include <string>

#include "fuzz_platform.h"
#include "platform/platform_operations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const std::u16string text = input.Text(4096);

    Captured().console.clear();
    EchoToConsole(text.c_str());
    std::string echo;
    for (char16_t unit : text) {
        if (unit > 0xFF) break;
        echo += static_cast<char>(unit);
    }
    if (Captured().console != echo) std::abort();

    Captured().console.clear();
    PrintToConsole(u"ExePath=[%s]\r\n", {text.c_str()});
    std::string printed = "ExePath=[";
    for (char16_t unit : text) printed += unit > 0xFF ? '?' : static_cast<char>(unit);
    printed += "]\r\n";
    if (Captured().console != printed) std::abort();
    return 0;
}
