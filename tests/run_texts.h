// The texts a run writes, built the way a reader of the log would expect them.
#pragma once

#include <string>

const char16_t* const kSystemLog = u"c:\\System.sav\\Logs\\Castorel.log";

inline std::u16string Banner(const std::u16string& date = u"03/07/18",
                             const std::u16string& time = u"09:05:02") {
    return u"\n\n================================ " + date + u" " + time +
           u" ========================================\r\n";
}

/// The console bytes of echoed records that hold only Latin-1 units: every LF becomes CR LF.
inline std::string ConsoleEcho(const std::u16string& records) {
    std::string bytes;
    for (char16_t unit : records) {
        if (unit == u'\n') bytes += '\r';
        bytes += static_cast<char>(unit);
    }
    return bytes;
}
