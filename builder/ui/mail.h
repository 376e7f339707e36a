// Sending the new self-extracting file by mail: Simple MAPI of the default
// mail client, whose own compose window the user fills in.
#pragma once

#include <windows.h>

#include "common/QlString.h"

// The default client's MAPI library: its "DLLPath", else the win.ini name
// (MAPI32.DLL) in the system folder or the folder above it.
bool find_mapi_dll(QlStr& path);
// Binds MAPISendMail once; false (no Mail button) without a client or for a
// spanned build.
bool find_mapi_send_mail();
// One message with the output file attached; silent when mail cannot be sent.
void send_mail(HWND page);
void release_mapi();
