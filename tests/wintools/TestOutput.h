// What the Windows test programs write for their drivers: UTF-8 text files
// and JSON strings.
#pragma once

#include <windows.h>

#include <string>

inline std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

// Writes the text as UTF-8, appended or in place of what the file held.
inline void writeFile(const std::wstring& path, const std::wstring& text, bool append)
{
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes = utf8(text);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

inline std::wstring jsonString(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            wchar_t escaped[8];
            wsprintfW(escaped, L"\\u%04x", (unsigned)c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}
