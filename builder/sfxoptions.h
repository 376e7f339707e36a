// The option record of one build, filled by the switches or the wizard and
// read by the build, with the build settings kept beside it and the Windows
// version flags taken once at start-up.
#pragma once

#include <cstdint>

#include "common/QlString.h"

// Limits of the record's texts.
const int kSfxMaxDefaultFolder = 520;
const int kSfxMaxTitle = 64;
const int kSfxMaxCommand = 256;
const int kSfxMaxDialogText = 256;
const int kSfxMaxAboutText = 256;
const int kSfxMaxWaitName = 8;
const int kSfxMaxGreetingAnsi = 512;    // bytes
const int kSfxMaxGreetingUnicode = 1024;  // bytes of UTF-16

struct SfxOptions {
    QlStr zip_name;
    QlStr output_name;
    QlStr default_folder;
    QlStr greeting_file;      // empty: the default greeting file
    QlStr greeting_text;
    QlStr title;
    QlStr command;
    QlStr dialog_text_file;
    QlStr dialog_text;
    QlStr about_text_file;
    QlStr about_text;
    QlStr icon_file;
    bool installation_mode = false;  // -setup
    bool overwrite = true;
    bool option_3 = false;
    bool encrypted_entries = false;  // set by the Zip scan
    bool auto_unzip = false;
    bool option_k = false;
    bool no_crc = false;
    bool silent = false;
    bool title_given = false;
    bool title_on_setup_button = false;  // -sta
    bool command_split = false;
    bool inf_command = false;
    bool pe_section = true;
    bool greeting_buttons = false;
    bool greeting_ok_cancel = false;  // with greeting_buttons; else Yes/No
    uint16_t format = 0;    // 0 = Win32, the only format
    uint16_t language = 0;  // 0 English, 1 German
    QlStr wait_name;
    bool spanning = false;
    bool zip_behind_stub = false;  // -spanexe
    QlChar spanning_drive = 0;     // upper-case letter
    bool wipe_disks = false;
    bool argv0 = false;
    bool run_as_admin = false;  // Windows NT family only
};

// The build settings kept beside the record.
struct SfxBuildSettings {
    bool oem = false;
    bool wait_on = false;
    bool manual_wait = false;
    bool comment_on = false;
    QlStr comment_file;
    bool no_about_button = false;
    bool names_not_83 = false;  // set by the scan
    bool prompts_off = false;
    bool greeting_wanted = false;  // -m
    bool allow_switches_in_command = false;  // -o
    bool build_log = false;  // -v
    bool custom_stub = false;
    QlStr custom_stub_path;
    int32_t custom_stub_size = 0;
    bool post_install = false;  // -r
    bool win32_given = false;   // -win32 on the command line
    bool from_command_line = false;
};

struct OsVersionFlags {
    bool win98_or_later = false;  // 9x family, minor above 9
    bool win_me = false;          // 9x family, minor 90 and up
    bool nt_family = false;
    bool win2000_or_later = false;  // NT major above 4
    bool version_5_2 = false;
    bool xp_or_later = false;     // 5.1 and up
    bool vista_or_later = false;  // major above 5
    bool process_elevated = false;
};

extern SfxOptions g_options;
extern SfxBuildSettings g_settings;
extern OsVersionFlags g_os;

// Back to the state before the first switch: the record's defaults (format
// Win32, overwrite on, English, PE section on) and the settings cleared.
void reset_options();
