// Files for the builder's tests, in a folder of their own under the temp
// folder, removed with the fixture.
#pragma once

#include <string>

#include <windows.h>

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    // Writes the bytes to name in the folder and answers the full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const;
    std::wstring Path(const std::wstring& name) const { return folder_ + name; }
    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring folder_;
};

// Text in the encodings the builder reads.
std::string utf16le(const std::wstring& text, bool mark);
std::string utf8(const std::wstring& text, bool mark);
