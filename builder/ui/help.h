// Help through the HTML Help control, loaded at run time from "hhctrl.ocx":
// the help file chosen by help id, the viewer's life, and the message-filter
// hook that gives the viewer its keys and turns F1 in a menu into a request
// to the main window.
#pragma once

#include <windows.h>

#include "common/QlString.h"

// Kinds of help request (the HTML Help commands they become).
const int kHelpContext = 15;  // HH_HELP_CONTEXT: the topic of a help id
// Posted to the main window for F1 in a menu: wParam the filter code,
// lParam the window of the key message.
const UINT kMsgMenuHelp = 1328;

// Start-up: the builder's help file (beside the program) and the hook.
// help_stop removes the hook and shuts the viewer down.
void help_start(const QlStr& help_file);
void help_stop();

// The file for a request: the builder's own, or one of the two alternate
// files (never set in this builder; a request that resolves to one opens
// nothing). Empty when none applies.
QlStr help_file_for(int kind, int id);
// Opens the help id's topic (id 1: the table of contents), owned by window.
// True when the viewer came up.
bool show_help(HWND window, int kind, int id);
bool help_open(HWND window, const QlStr& file, UINT command, DWORD_PTR data);
void help_initialize();
// Closes our viewer when it is in front; with uninitialise, HH_UNINITIALIZE.
void help_close(bool uninitialise);
bool is_help_viewer_active();
LRESULT CALLBACK help_message_hook(int code, WPARAM wparam, LPARAM lparam);
// Help requests do nothing while disabled.
void set_help_disabled(bool disabled);
bool help_disabled();
