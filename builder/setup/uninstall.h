// The builder installs and removes itself: the post-install step after the
// setup program has copied the files, and "-uninstall".
#pragma once

#include <windows.h>

#include "common/QlString.h"

// Messages of the uninstall and of the post-install step.
enum SetupMessage {
    kMsgUninstallComplete = 480,
    kMsgUninstallInUse = 1107,
    kMsgUninstallSure = 4010,
    kMsgNothingToUninstall = 4011,
    kMsgArchiverRunsUninstall = 4760,
    kMsgBuilderRunsUninstall = 4790,
    kMsgUninstallLast = 4810,
    kMsgStartMenuGroup = 6331,
    kMsgFolderWindowClass = 6330,
    kMsgStartMenuShortcut = 4780,
    kMsgOnlineManual = 6333,
};

// Dialogs of the post-install step: "r" shows the first, "nor" the second.
enum SetupDialog {
    kDlgSetupInstalled = 6000,
    kDlgSetupComplete = 6003,
    kIdcSetupRunNow = 6002,
    kIdcSetupEtchedLine = 999,
};

// 1 when the uninstall is finished, found nothing to do, or the user
// declined at the first question; 0 when it was refused, declined later or
// failed. Every box has the caption given.
int uninstall_builder(HMODULE builder, const QlStr& caption);

// Registers the two program names under App Paths, cancels what an earlier
// uninstall left for deletion at restart, records the builder version, and
// shows the dialog: 1 for its run-now button, 3 for Done.
int complete_setup(int dialog_template);

// The post-install dialog (6000 or 6003): 1 for its run-now button, 3 for
// Done.
int show_setup_dialog(int template_id);

// The App Paths entry of a program: its default value is folder + name.
bool write_app_path(const QlStr& folder, const QlStr& name);

// The builder's Start-menu group: string 6331 below the common Programs
// folder (Windows 2000 and later) or the user's.
int start_menu_group_csidl();
