// Printable forms for test messages: texts as ASCII with \uXXXX escapes,
// narrow bytes with \xNN escapes, and the hook reports since the last call.
#pragma once

#include <cstdio>
#include <string>

#include "common/QlString.h"
#include "tests/support/RecordingHooks.h"

inline std::string qlShowText(const QlChar* text, int length)
{
    if (text == nullptr)
        return "<null>";
    std::string out;
    for (int i = 0; i < length; ++i) {
        unsigned unit = text[i];
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", unit);
            out += escaped;
        }
    }
    return out;
}

inline std::string qlShowText(const QlStr& s)
{
    return qlShowText(s.Text(), s.Length());
}

inline std::string qlShowBytes(const char* bytes)
{
    if (bytes == nullptr)
        return "<null>";
    std::string out;
    for (; *bytes != 0; ++bytes) {
        unsigned char byte = static_cast<unsigned char>(*bytes);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out;
}

// "assert QlGutz:12;win32 QlGutz:40;" for the reports since the last call.
inline std::string qlShowReports()
{
    std::string out;
    for (const QlHookReport& report : qlTakeHookReports()) {
        out += report.kind == QlHookReport::Assert ? "assert " : "win32 ";
        out += report.source + ":" + std::to_string(report.line) + ";";
    }
    return out;
}
