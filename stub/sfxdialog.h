// What the stub's dialogs share: the meter and the status line, the password
// dialog, the temporary folder, the message pump and the launches of both
// modes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/QlString.h"

// --- the meter (sfxmeter.cpp): window class "Meter", two 16-bit words of
// window data, range and position.
enum SfxMeterMessage : UINT {
    kMeterSetRange = WM_USER,
    kMeterGetRange = WM_USER + 1,
    kMeterSetPosition = WM_USER + 2,
    kMeterGetPosition = WM_USER + 3,
};
constexpr int kSfxStatusUnits = 260;

bool register_meter_class(HINSTANCE instance);
// flag 1: creates and selects the meter's font, answering the font it
// replaced; flag 0: selects old_font back and deletes the meter's font.
HGDIOBJ select_meter_font(HDC dc, HGDIOBJ old_font, int flag);
// "Unzipping %s" with the name part of the current output file, into
// buffer (capacity units with the terminator); a name too long for it is
// shortened rather than refused.
void format_unzipping_text(QlChar* buffer, int capacity);
// The last percentage the engine reported (also while the meter is hidden).
uint32_t sfx_meter_percent();
void sfx_reset_meter_text();

// --- the password dialog (sfxmeter.cpp)
// When the archive is marked encrypted, asks for the password first; false
// when the user cancelled.
bool ask_password();
void free_password();

// --- the dialogs (sfxdialog.cpp)
void centre_on_screen(HWND window);
QlStr own_file_name();

// --- the temporary folder (sfxtemp.cpp)
// The folder the user started the stub from (the first instance's folder,
// with a trailing backslash): relative folders are taken from there, never
// from the relaunch folder, which is deleted when the run ends.
QlStr start_folder();
// path made absolute against start_folder(); empty stays empty.
QlStr full_path_from_start(const QlStr& path);
bool temp_env_folder(const QlChar* variable, QlStr* value);
bool windows_temp_folder(QlStr* path);
bool get_temp_base_folder(QlStr* path);
bool make_numbered_temp_folder(const QlStr& base, QlStr* folder);
bool create_temp_folder(QlStr* folder);
// Deletes the tree; true when the folder itself was removed. Links inside it
// (junctions, symbolic links) are removed themselves, never followed. Nothing
// is deleted while g_sfx.keep_temp_folder is set.
bool delete_temp_folder(const QlStr& folder);
// Nonzero when the delete failed.
int delete_file_forced(const QlStr& path);
void delete_at_restart(const QlStr& path);

// --- waits and launches (sfxsetup.cpp)
// Dispatches what is queued; false when WM_QUIT was taken (it is posted
// again for the dialog's own loop).
bool pump_pending_messages();
// Sleeps up to ms with the messages pumped; returns early when stop() says so.
bool wait_pumping(DWORD ms, HANDLE object, bool (*stop)());

#if QL_SFX_INSTALL
// A value above 31 with the process handle stored (null when the shell gave
// none: the command then counts as ended), or 0 after its own message.
int run_setup_command(const QlStr& command, const QlStr& arguments, HANDLE* process);
HANDLE start_process(const QlStr& command_line);
// The program that a command line starts by its full path when it names a
// relative file that is in the current folder; empty otherwise.
QlStr program_in_current_folder(const QlStr& command_line);
bool program_in_use(const QlStr& name);
void wait_until_program_free(bool (*stop)());
#else
int run_when_done(const QlStr& file, const QlStr& arguments, int* result);
bool open_in_main_archiver();
// The registry's open command as the file to start: cut before its "%1",
// blanks trimmed, the quotes around the program removed.
QlStr archiver_program(const QlStr& registry_command);
// The document for the main archiver: the path the user started, with the
// extension "zip" for a spanned set whose archive is not in the first file,
// in double quotes.
QlStr archiver_document(const QlStr& path, uint32_t flags);
bool get_current_folder(QlStr* path);
bool browse_for_folder(HWND owner, QlStr* folder);
#endif
