// Where start-up hands over to parts of the builder that are not built yet.
// Each seam does the least its caller needs; the ones that would do real
// work say "not yet" through the message sink (ids 9000 and up).
#pragma once

#include <windows.h>

#include "common/QlString.h"

// "Not yet" messages of the seams.
const int kMsgWizardNotYet = 9000;
const int kMsgBuildNotYet = 9001;
const int kMsgUninstallNotYet = 9002;
const int kMsgPostInstallNotYet = 9003;
const int kMsgSettingsReportNotYet = 9004;

// The wizard; answers 1 when it built a file, 0 when it was left without one.
int run_wizard();
// The build: 1 when the file was made, 0 on failure or cancel.
int build_sfx_guarded(HWND wizard);
// "-uninstall": the uninstall step's result.
int run_uninstall(const QlStr& caption);
// -r and -nor: the post-install step's result (3 ends the program).
int run_post_install(bool nor_form);
// -dump: writes the settings report.
void write_settings_report();
// "-setupSM": the Start-menu folder with its two shortcuts; true when made.
bool create_start_menu_folder();
// The wizard's command check for an installation command; false when it
// showed its message.
bool check_setup_command(const QlStr& command);
// The main archiver's make-executable setting, and writing it.
QlStr read_main_archiver_exe_setting();
bool main_archiver_passes_version_test();
void write_main_archiver_exe_setting(const QlStr& path);
// The builder's version record (the default value of its HKLM key).
QlStr read_builder_version_record();
void write_builder_version_record(const QlStr& version);
