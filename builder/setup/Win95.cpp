// Paths of shell special folders and of shortcut files in them.
#include "builder/setup/Win95.h"

#include "common/QlHooks.h"
#include "common/QlMisc.h"

namespace {

const char kSource[] = "Win95";
const int kShortcutFolderLimit = 520;

}  // namespace

bool make_shortcut_path(QlStr& out, LPITEMIDLIST items, const QlStr& name)
{
    out.Clear();
    QlStr folder;
    bool found = qlMiscPidlToPath(folder, items);
    if (found && qlCheck(folder.Length() <= kShortcutFolderLimit, kSource, kWin95ShortcutPathLong))
        out = folder + QL("\\") + name + QL(".lnk");
    IMalloc* allocator = nullptr;
    if (qlCheck(SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr, kSource,
                kWin95NoShellAllocator)) {
        allocator->Free(items);
        allocator->Release();
    }
    return out.HasText();
}

bool get_special_folder_shortcut_path(QlStr& out, int csidl, const QlStr& name)
{
    out.Clear();
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr)
        return false;
    return make_shortcut_path(out, items, name);
}

HRESULT get_known_folder_path(REFGUID folder, QlStr& out)
{
    out.Clear();
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
        version.dwMajorVersion < 6)
        return E_FAIL;
    typedef HRESULT(WINAPI * KnownFolderFn)(REFGUID, DWORD, HANDLE, PWSTR*);
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    auto lookup = shell ? reinterpret_cast<KnownFolderFn>(reinterpret_cast<void*>(
                              GetProcAddress(shell, "SHGetKnownFolderPath")))
                        : nullptr;
    if (lookup == nullptr)
        return E_FAIL;
    PWSTR path = nullptr;
    HRESULT result = lookup(folder, 0, nullptr, &path);
    if (SUCCEEDED(result) && path)
        out = QlStr(path);
    CoTaskMemFree(path);
    return result;
}
