// The stub's extraction: the engine over this file's archive, with the
// decoders of this variant, its boxes owned by the main dialog.
#include <windows.h>

#include "common/QlRaise.h"
#include "stub/engine/cpufeatures.h"
#include "stub/engine/unzip.h"
#include "stub/sfxdecoders.h"
#include "stub/sfxhost.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

namespace {

constexpr uint32_t kDecodeBufferSize = 0x100000;

// The stub's own boxes, status line and meter.
class SfxDialogSink final : public SfxHostSink {
public:
    int box(int, const QlStr& text, UINT type) override
    {
        return sfx_box(g_sfx.main_window, text, type);
    }
    void unzipping(const QlStr& output_name) override { sfx_show_unzipping(output_name); }
    void progress(uint32_t percent) override { sfx_show_progress(percent); }
};

// The parts of a spanned set lie beside the file the user started, on the
// drive it was started from; the running copy in the temp folder only
// duplicates the first part.
const QlStr& spanned_set_path()
{
    return g_sfx.original_path.HasText() ? g_sfx.original_path : g_sfx.own_path;
}

}  // namespace

namespace {

bool first_disk_is_in(bool executable_part)
{
    SfxDialogSink sink;
    SfxHostSetup setup;
    setup.archive = &g_sfx.archive;
    setup.archive_path = spanned_set_path();
    setup.parts_are_executables = executable_part;
    setup.owner = g_sfx.main_window;
    setup.sink = &sink;
    SfxWinHost host(setup);
    return host.request_disk(1);
}

#if QL_SFX_HAS_AES
// The cipher's AES, SHA and SSE paths use registers that only a system which
// saves them across task switches may offer: Windows 95 and NT 4 cannot say
// so (no IsProcessorFeaturePresent, or no SSE2 answer), and get the portable
// code.
void allow_processor_paths()
{
    using FeaturePresent = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FeaturePresent present = nullptr;
    if (kernel != nullptr)
        present = reinterpret_cast<FeaturePresent>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "IsProcessorFeaturePresent")));
    if (present == nullptr || !present(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
        ql_cpu_limit_features(0);
}
#endif

}  // namespace

void sfx_ask_for_first_disk(bool executable_part)
{
    // Abort, Cancel and a part that does not open end the run as a shown
    // error does (the boxes were the message). Raised once the host is gone:
    // the stub's recovery points do not run destructors.
    if (!first_disk_is_in(executable_part))
        qlRaise(SfxReturn{2});
}

int sfx_extract_all(const QlStr& unzip_folder)
{
    SfxDialogSink sink;
    SfxHostSetup setup;
    setup.archive = &g_sfx.archive;
    setup.archive_path = g_sfx.spanned ? spanned_set_path() : g_sfx.own_path;
    setup.parts_are_executables = g_sfx.zip_on_first_disk;
    setup.owner = g_sfx.main_window;
    setup.wait_cursor = g_sfx.wait_cursor;
    setup.sink = &sink;
    SfxWinHost host(setup);

    SfxExtractSettings settings;
    settings.host = &host;
    settings.archive_path = setup.archive_path;
    settings.zip_offset = g_sfx.header.archive_offset;
    settings.total_size = g_sfx.header.total_size;
    settings.unzip_folder = unzip_folder;
    settings.overwrite_all = g_sfx.overwrite_all;
    settings.password = g_sfx.password;
    settings.spanned = g_sfx.spanned;
    settings.parts_are_executables = g_sfx.zip_on_first_disk;
    settings.silent = g_sfx.silent;
    settings.live_meter_in_use = &g_sfx.meter_in_use;
    settings.decode_buffer = g_sfx.decode_buffer;
    settings.decode_buffer_size = g_sfx.decode_buffer != nullptr ? kDecodeBufferSize : 0;
    settings.decoders = sfx_variant_decoders();
#if QL_SFX_HAS_AES
    allow_processor_paths();
    SfxAesDecryptionOf aes;
    settings.aes = &aes;
#endif

    HCURSOR previous = SetCursor(g_sfx.wait_cursor);
    int result = extract_all(settings);
    SetCursor(g_sfx.arrow_cursor != nullptr ? g_sfx.arrow_cursor : previous);
    return result;
}

int change_to_folder(const QlStr& folder)
{
    QlStr target = sfx_folder_to_enter(folder);
    return SetCurrentDirectoryW(target.Text() ? target.Text() : L"") ? 0 : -1;
}

uint32_t sfx_extracted_count()
{
    return extracted_entry_count();
}
