// Text helpers of the Windows test tools: UTF-8 files, hex, argument quoting,
// Unix paths under Wine, and the JSON lines of the run log.
#pragma once

#include <windows.h>

#include <string>

std::string toUtf8(const std::wstring& text);
// False when the bytes are not valid UTF-8.
bool fromUtf8(const std::string& bytes, std::wstring& text);
bool readFileBytes(const std::wstring& path, std::string& bytes);
// Pairs of hex digits, either case; false on an odd count or a non-digit.
bool decodeHex(const std::wstring& hex, std::string& bytes);

// One argument as the C runtime's argument splitter reads it back.
std::wstring quoteArgument(const std::wstring& argument);

// A path that begins with '/' is a Unix path: under Wine it becomes the DOS
// path of the same file (Z:\ maps to /). Other paths are kept.
std::wstring hostPath(const std::wstring& path);

// A JSON string literal (quotes included) of the text, in UTF-8.
std::string jsonString(const std::wstring& text);

// The message of a Win32 error code, without the trailing line break.
std::wstring win32Message(DWORD error);

// Writes a line to standard error, as UTF-8.
void reportLine(const std::wstring& line);

// The run log: one JSON object per line, written at once so that a killed run
// still leaves every record it made.
class RunLog {
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    bool open(const std::wstring& path);
    bool isOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    // record: the members of one object, without the braces.
    void write(const std::string& record);

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};
