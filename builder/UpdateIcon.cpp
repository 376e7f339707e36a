// Replacing the output's icon group with the user's icon file.
#include "builder/UpdateIcon.h"

#include <vector>

#include "builder/iconfile.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"

bool icon_not_recognised = false;

namespace {

const char kSource[] = "UpdateIcon";
const int kLineNoExe = 41;
const int kLineNoIcon = 42;
const int kLineNoGroup = 43;
const int kMsgUiLanguage = 1000;
const WORD kLanguage = 1033;  // every resource the builder writes
// Icon files are a few kilobytes; a larger one is not an icon.
const DWORD kIconFileLimit = 16u << 20;

bool read_whole_file(const wchar_t* path, std::vector<uint8_t>* bytes)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart <= kIconFileLimit;
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes->empty() || (ReadFile(h, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
                                got == bytes->size());
    }
    CloseHandle(h);
    return ok;
}

void show_update_failure(const wchar_t* exe_path, DWORD error)
{
    QlStr text = format_message(kMsgIconUpdate, exe_path, system_error_text(error, interface_language_id()).Text());
    sink_message_box(kMsgIconUpdate, nullptr, text, load_message(kMsgCaption), MB_OK | MB_ICONERROR);
}

}  // namespace

bool bind_resource_update(ResourceUpdateApi* api)
{
    *api = ResourceUpdateApi();
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    if (kernel == nullptr)
        return false;
    api->begin = reinterpret_cast<decltype(api->begin)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "BeginUpdateResourceW")));
    api->update = reinterpret_cast<decltype(api->update)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "UpdateResourceW")));
    api->end = reinterpret_cast<decltype(api->end)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "EndUpdateResourceW")));
    return api->begin && api->update && api->end;
}

QlStr system_error_text(DWORD error, WORD language)
{
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    DWORD n = FormatMessageW(flags, nullptr, error, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n == 0 && language != 0)
        n = FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QlStr out;
    if (n != 0 && text != nullptr)
        out = QlStr(text);
    if (text != nullptr)
        LocalFree(text);
    out.TrimRight();
    return out;
}

WORD interface_language_id()
{
    QlStr code = load_message(kMsgUiLanguage);
    static const struct { const wchar_t* code; WORD language; } kLanguages[] = {
        {L"DE", 1031}, {L"FR", 1036}, {L"ES", 1034}, {L"JP", 1041},
    };
    for (const auto& l : kLanguages)
        if (code.EqualsNoCase(l.code))
            return l.language;
    return 1033;
}

uint16_t read_icon_group(const wchar_t* exe_path, uint16_t capacity, uint16_t* ids_out, uint32_t* sum_out,
                         uint16_t group_id)
{
    HMODULE module = LoadLibraryExW(exe_path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return 0;
    std::vector<uint16_t> ids;
    uint32_t sum = 0;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(group_id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const uint8_t* group = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (group != nullptr)
        read_icon_group_ids(group, SizeofResource(module, found), &ids, &sum);
    FreeLibrary(module);
    if (ids_out != nullptr)
        for (size_t i = 0; i < ids.size() && i < capacity; ++i)
            ids_out[i] = ids[i];
    if (sum_out != nullptr)
        *sum_out = sum;
    return static_cast<uint16_t>(ids.size());
}

bool replace_icon(const wchar_t* exe_path, const wchar_t* icon_path, uint16_t group_id, bool allow_more)
{
    icon_not_recognised = false;
    if (!qlCheck(exe_path != nullptr && exe_path[0] != 0, kSource, kLineNoExe) ||
        !qlCheck(icon_path != nullptr && icon_path[0] != 0, kSource, kLineNoIcon) ||
        !qlCheck(group_id != 0, kSource, kLineNoGroup))
        return false;
    ResourceUpdateApi api;
    if (!bind_resource_update(&api))
        return false;

    uint16_t old_count = read_icon_group(exe_path, 0, nullptr, nullptr, group_id);
    if (old_count == 0)
        return false;
    std::vector<uint16_t> old_ids(old_count);
    read_icon_group(exe_path, old_count, old_ids.data(), nullptr, group_id);

    // The whole icon file is read and checked before the executable is
    // touched: an unusable file changes nothing.
    std::vector<uint8_t> file;
    std::vector<IconImageEntry> images;
    if (!read_whole_file(icon_path, &file) ||
        parse_icon_file(file.data(), file.size(), &images) != IconFileStatus::Ok) {
        icon_not_recognised = true;
        return false;
    }

    HANDLE update = api.begin(exe_path, FALSE);
    if (update == nullptr) {
        // Read-only, locked or on read-only media: the user hears of it.
        show_update_failure(exe_path, GetLastError());
        return false;
    }
    bool success = true;
    for (uint16_t id : old_ids) {
        if (!api.update(update, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id), kLanguage, nullptr, 0)) {  // RT_ICON
            success = false;
            break;
        }
    }
    std::vector<uint16_t> ids = plan_icon_ids(old_ids, images.size(), allow_more);
    if (success) {
        std::vector<uint8_t> group = build_icon_group(images, ids);
        success = api.update(update, MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(group_id), kLanguage, group.data(),
                             static_cast<DWORD>(group.size())) != FALSE;
    }
    if (success) {
        for (size_t i = 0; i < ids.size(); ++i)
            if (!api.update(update, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(ids[i]), kLanguage,
                            file.data() + images[i].offset, images[i].bytes))
                success = false;
    }
    if (!api.end(update, success ? FALSE : TRUE)) {
        show_update_failure(exe_path, GetLastError());
        return false;
    }
    return success;
}
