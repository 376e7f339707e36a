// The builder's entry, main body and start-up services.
#pragma once

#include <windows.h>

#include "builder/qlse32api.h"
#include "common/QlString.h"

// Exit codes. A completed build keeps 1; every ending that built nothing has
// its own code, so a script can tell them apart. An internal error also ends
// with 1 (the report says so on the desktop).
enum BuilderExit {
    kExitNothingToBuild = 0,  // "-setup", "-setupSM", -?, -dump, wizard left without a build
    kExitBuilt = 1,           // the self-extracting file was made
    kExitBuildFailed = 2,     // the build ran and failed (its message was shown)
    kExitRefused = 3,         // the command line was refused (its message was shown)
    kExitStartupFailed = 4,   // the builder cannot run here (its message was shown)
};

int builder_main(HINSTANCE instance, const QlStr& command_line);
int builder_body(HINSTANCE instance, const QlStr& command_line);
// True (and message 4880) when the own path plus the line reach 1022 units.
bool check_command_line_length(const QlStr& command_line);
bool check_command_line_length(int module_length, int line_length);
void detect_os_and_defaults();
int get_module_file_name(HMODULE module, QlStr& path);
char wchar_to_ansi(wchar_t unit);
HWND get_owner_window(bool last_popup);
int record_builder_version();
void register_with_main_archiver();

// The helper library's entry points, bound at start-up.
struct HelperLibrary {
    HMODULE module = nullptr;
    QlseZipSplitFn zipsplit = nullptr;
    QlseLabelFn label = nullptr;
    QlseWipeFn wipe = nullptr;
    QlseZipInitFn zip_init = nullptr;
    QlseCheckMultiVolumeFn check_multi_volume = nullptr;
    QlseUnzipInitFn unzip_init = nullptr;
    QlseUnzipFn unzip = nullptr;
};
extern HelperLibrary* g_helper;
