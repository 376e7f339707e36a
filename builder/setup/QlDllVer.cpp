// The file version of a module.
#include "builder/setup/QlDllVer.h"

#include <windows.h>

#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/QlWin32.h"

namespace {

const char kSource[] = "QlDllVer";

// The module's version resource: the two words of its root block.
bool read_version_resource(const QlStr& module, uint32_t& ms, uint32_t& ls)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(module.Text(), &handle);
    if (size == 0)
        return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (block == nullptr)
        return false;
    void* data = GlobalLock(block);
    bool read = false;
    if (qlCheck(data != nullptr, kSource, kDllVerLock) &&
        GetFileVersionInfoW(module.Text(), handle, size, data)) {
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (VerQueryValueW(data, L"\\", reinterpret_cast<void**>(&info), &length) && info &&
            length >= sizeof *info) {
            ms = info->dwFileVersionMS;
            ls = info->dwFileVersionLS;
            read = true;
        }
    }
    if (data)
        GlobalUnlock(block);
    DWORD error = GetLastError();
    GlobalFree(block);
    SetLastError(error);
    return read;
}

}  // namespace

bool QlDLLVersion::Query(const QlStr& module, bool allow_override)
{
    if (!qlCheck(module.HasText(), kSource, kDllVerNoPath))
        return false;
    module_ = module;
    if (allow_override) {
        QlStr text;
        qlWin32GetPrivateProfileString(QlStr(L"Quolla Self-Extractor"), module, QlStr(L""), text,
                                       QlStr(L"quollase.ini"));
        if (parse_version_override(text, ms_, ls_))
            return true;
    }
    if (read_version_resource(module, ms_, ls_))
        return true;
    qlMiscReportLastError();
    return false;
}

QlDLLVersion& common_controls_version()
{
    static QlDLLVersion version;
    return version;
}
