// Swapping the stub's manifest for its administrator manifest.
#include "builder/UpdtManif.h"

#include <cstring>
#include <vector>

#include "builder/UpdateIcon.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "UpdtManif";
const int kLineNoExe = 68;
const int kLineEmptyManifest = 84;
const int kLineUnlockable = 86;
const WORD kLanguage = 1033;

// The administrator manifest's bytes, copied out of the module before the
// file is opened for the update; false when the module or the resource
// cannot be had.
bool read_admin_manifest(const wchar_t* exe_path, std::vector<uint8_t>* bytes)
{
    HMODULE module = LoadLibraryExW(exe_path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return false;
    bool ok = false;
    HRSRC found = FindResourceW(module, QL_ADMIN_MANIFEST_NAME, QL_ADMIN_MANIFEST_TYPE);
    if (found != nullptr) {
        DWORD size = SizeofResource(module, found);
        HGLOBAL loaded = LoadResource(module, found);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (qlCheck(size != 0, kSource, kLineEmptyManifest) && qlCheck(data != nullptr, kSource, kLineUnlockable)) {
            bytes->assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
            ok = true;
        }
    }
    DWORD error = GetLastError();
    FreeLibrary(module);
    SetLastError(error);
    return ok;
}

}  // namespace

bool use_admin_manifest(const wchar_t* exe_path)
{
    if (!qlCheck(exe_path != nullptr && exe_path[0] != 0, kSource, kLineNoExe))
        return false;
    ResourceUpdateApi api;
    if (!bind_resource_update(&api))
        return false;
    std::vector<uint8_t> manifest;
    int failure = 0;
    DWORD error = 0;
    if (!read_admin_manifest(exe_path, &manifest)) {
        failure = kMsgAdminManifestRead;
        error = GetLastError();
    } else {
        HANDLE update = api.begin(exe_path, FALSE);
        bool ok = false;
        error = GetLastError();
        if (update != nullptr) {
            ok = api.update(update, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kLanguage,  // RT_MANIFEST
                            manifest.data(), static_cast<DWORD>(manifest.size())) != FALSE;
            if (!ok)
                error = GetLastError();
            // A refused update is discarded; a good one is written.
            if (!api.end(update, ok ? FALSE : TRUE) && ok) {
                ok = false;
                error = GetLastError();
            }
        }
        if (!ok)
            failure = kMsgAdminManifestSwitch;
    }
    if (failure == 0)
        return true;
    QlStr text = format_message(failure, system_error_text(error, kLanguage).Text());
    sink_message_box(failure, nullptr, text, load_message(kMsgCaption), MB_OK | MB_ICONERROR);
    return false;
}
