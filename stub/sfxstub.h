// The stub's process-wide state and the functions its start-up sources share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "builder/sfxheader.h"
#include "common/QlString.h"
#include "stub/sfxvariant.h"

// Source names as the internal-error report gives them.
extern const char kSfxHeadSource[];   // "sfxheadw.c", "sfxhead.c" in the narrow build
extern const char kSfxUtilSource[];   // "qlutil.c"

// Lines named in the internal-error reports of the stub.
enum SfxLine {
    kSfxLineVersion = 421,        // GetVersionExW failed
    kSfxLineReportVersion = 2466, // GetVersionExW failed while reporting
    kSfxLineSignature = 5484,     // 5484-5489: the six signature copies
    kSfxLineUtilMode = 60,        // util_fopen with an unknown mode
    kSfxLineUtilFlags = 61,       // util_open with unknown open flags
    kSfxLineUtilShare = 62,       // util_open with unknown share flags
    kSfxLineRenameLine = 1911,    // the wininit.ini line does not fit
    kSfxLineWininitPath = 1922,   // the wininit.ini path does not fit
};

// A fatal message was shown: unwind to the recovery point in wWinMain.
// Never thrown through a Win32 callback: window and dialog procedures catch
// everything and hand the value on through g_sfx.pending_return.
struct SfxReturn {
    int value;  // 1 the user cancelled inside the engine, 2 an error was shown
};

struct SfxOsFacts {
    bool win98_or_later;   // 9x family, minor >= 10
    bool win_me;           // 9x family, minor >= 90
    bool nt_family;
    bool nt5_or_later;
    bool version_5_2;
    bool xp_or_later;      // 5.1 or later, or any major above 5
    bool vista_or_later;   // major >= 6
};

constexpr int kSfxConfigStrings = 8;
constexpr int kSfxExtraArgsUnits = 257;
constexpr int kSfxFolderMaxUnits = 260;

struct SfxState {
    HINSTANCE instance;
    QlStr own_path;          // long form of the module path
    QlStr original_path;     // the first instance's path ("shortcut="), else own_path
    QlStr user_line;         // the user's arguments, without the relaunch markers
    SfxOsFacts os;
    DWORD version;           // GetVersion()
    bool wide_api;
    HCURSOR wait_cursor;
    HCURSOR arrow_cursor;
    HWND main_window;
    HICON program_icon;

    SfxHeader header;        // the record as this file carries it
    HANDLE archive;          // INVALID_HANDLE_VALUE when closed
    uint64_t archive_size;
    bool spanned;
    bool zip_on_first_disk;
    uint8_t* decode_buffer;  // 1 MiB
    uint8_t* input_buffer;
    uint8_t* output_buffer;
    uint8_t signatures[6][4];

    QlStr config[kSfxConfigStrings];  // configuration strings 1..8 at [0..7]
    QlChar extra_args[kSfxExtraArgsUnits];

    bool auto_start;         // Setup or Unzip presses itself
    bool wait_for_done;      // WAIT (installation mode)
    bool overwrite_default;  // standard mode
    QlStr unzip_folder;      // standard mode
    uint16_t entry_flags;    // first bytes of the current entry record; bit 0 password first

    char* password;          // narrow (ANSI) text of the password dialog; null when none
    bool overwrite_all;      // always on in installation mode
    bool meter_in_use;       // the meter shows the progress (no status line then)
    bool silent;
    bool keep_temp_folder;   // no command ran: delete_temp_folder leaves the folder

    int pending_return;      // set by a callback that caught an SfxReturn; 0 none
};

extern SfxState g_sfx;

// --- the start-up after the relaunch (sfxstart.cpp)
// Everything the stub does once it runs from its copy; the exit code.
int sfx_run(HINSTANCE instance);
// The folder part of a path, with its trailing backslash; empty without one.
QlStr sfx_folder_part(const QlStr& path);
// The module's path, empty when it does not fit in `units`.
QlStr sfx_module_path(DWORD units);
// The name part replaced by the long name that FindFirstFileW finds.
QlStr sfx_own_long_path(const QlStr& path);

// The exit code of a copy whose own code cannot be read (as after an
// internal error).
constexpr int kExitInternal = 1;
// Waits for the started copy to end and closes its handles; its exit code,
// or kExitInternal when that cannot be read.
void sfx_wait_for_copy(const PROCESS_INFORMATION& process, DWORD* exit_code);

// The header record as this image carries it (filled in the file by the builder).
void sfx_read_own_header(SfxHeader* out);
// The eyecatcher, read from the template at run time so that the image
// carries its bytes only once.
void sfx_own_eyecatcher(uint8_t out[8]);

// --- messages (sfxerror.cpp)
QlStr sfx_text(int id);
int sfx_box(HWND owner, const QlStr& text, UINT type);
int sfx_box_id(HWND owner, int id, UINT type);
// Shows message id with MB_ICONERROR and returns to the recovery point.
[[noreturn]] void sfx_fatal(int id, int value = 2);
[[noreturn]] void internal_error(const char* source, int line);
[[noreturn]] void internal_error_wide(const QlChar* source, int line);
[[noreturn]] void internal_error_overflow(const char* source, int line);
[[noreturn]] void internal_error_system(const char* source, int line);
[[noreturn]] void out_of_memory_exit();
void install_out_of_memory_handler();
bool get_special_folder_path(int csidl, QlStr* path);
// Where the crash report goes: the desktop, else the temp folder.
QlStr crash_report_path();

// --- integrity checks and configuration texts (sfxinit.cpp)
bool init_archive();
void check_stub_crc(uint32_t length, uint32_t expected, const uint8_t eyecatcher[8]);
void read_config_block();
bool check_pe_entry_point();
void shutdown_archive();

// --- the opening message and the switches (sfxswitch.cpp, sfxheadw.cpp)
bool show_opening_message();
void parse_switches(const QlStr& line);

// --- the status line and the meter (sfxmeter.cpp)
// "Unzipping %s" with the name part of the output name, in the status line
// (not while the meter is in use, not when silent).
void sfx_show_unzipping(const QlStr& output_name);
// The meter's position, 0-100 (only while it is in use, not when silent).
void sfx_show_progress(uint32_t percent);

// --- the extraction (sfxextract.cpp)
// A spanned set: asks until disk 1 is in the drive of the file the user
// started and opens its part (the executable, or the set's Zip) as the
// archive; Abort or Cancel return to the recovery point with value 2.
void sfx_ask_for_first_disk(bool executable_part);
// Extracts this stub's archive into the current folder (or g_sfx's folder):
// 0 done, 1 cancelled, 2 an error was shown.
int sfx_extract_all(const QlStr& unzip_folder);
// Makes `folder` the current folder; 0 on success (string 1025 otherwise,
// shown by the caller).
int change_to_folder(const QlStr& folder);
// Entries that reached decoding in the last extraction (string 1031).
uint32_t sfx_extracted_count();

// --- the dialog (sfxdialog.cpp)
INT_PTR CALLBACK sfx_main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
