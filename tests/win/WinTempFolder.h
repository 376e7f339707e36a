// A fresh folder under the temp folder for one test, removed with everything
// in it at the end. Paths are given relative to it.
#pragma once

#include <windows.h>

#include <string>

class WinTempFolder {
public:
    WinTempFolder()
    {
        wchar_t temp[MAX_PATH];
        wchar_t longTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        if (GetLongPathNameW(temp, longTemp, MAX_PATH) == 0)
            lstrcpyW(longTemp, temp);
        static unsigned serial = 0;
        for (;;) {
            wchar_t name[64];
            wsprintfW(name, L"qltest-%lx-%u", GetCurrentProcessId(), ++serial);
            m_path = std::wstring(longTemp) + name;
            if (CreateDirectoryW(m_path.c_str(), nullptr))
                break;
        }
    }
    ~WinTempFolder() { RemoveTree(m_path); }
    WinTempFolder(const WinTempFolder&) = delete;
    WinTempFolder& operator=(const WinTempFolder&) = delete;

    // The folder without a trailing separator.
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

    bool MakeDir(const std::wstring& relative) const
    {
        return CreateDirectoryW((*this / relative).c_str(), nullptr) != 0;
    }
    bool MakeFile(const std::wstring& relative, const std::string& bytes = "",
                  DWORD attributes = FILE_ATTRIBUTE_NORMAL) const
    {
        HANDLE file = CreateFileW((*this / relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, attributes, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), DWORD(bytes.size()), &written,
                                             nullptr);
        CloseHandle(file);
        return ok && written == bytes.size();
    }

private:
    static void RemoveTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                std::wstring path = folder + L"\\" + name;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path);
                else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring m_path;
};
