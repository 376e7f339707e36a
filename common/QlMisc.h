// Small shared services: the owner of message boxes, a message box that can
// carry a Help button, the process-wide error list, the text of the last
// Win32 error, special-folder paths and a Win32 file-handle wrapper.
//
// The library shows no box of its own: qlMiscMessageBox hands every box to
// the program's box hook when one is set (the builder's message sink).
#pragma once

#include <cstdint>

#include <windows.h>
#include <shlobj.h>

#include "common/QlList.h"
#include "common/QlString.h"

enum QlMiscLine {
    kMiscHelpWindow = 218,   // a help request with no window under the mouse
    kMiscOpenTwice = 922,    // OpenExisting on an open file
    kMiscCreateTwice = 938,  // CreateAlways on an open file
    kMiscFlushClosed = 960,
    kMiscSeekMethod = 970,
    kMiscReadBuffer = 980,
    kMiscReadCount = 981,
    kMiscReadClosed = 982,
    kMiscWriteBuffer = 999,
    kMiscWriteCount = 1000,
    kMiscWriteClosed = 1001,
    kMiscPathTooLong = 1117,
};

// The program's box: (help id, owner, text, caption, flags) -> button.
typedef int (*QlMiscBoxHook)(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                             UINT flags);
void qlMiscSetMessageBoxHook(QlMiscBoxHook hook);
// The help viewer for a box's Help button: (window, context id).
typedef void (*QlMiscHelpHook)(HWND window, DWORD context);
void qlMiscSetHelpHook(QlMiscHelpHook hook);

// The application's main window (the wizard frame while it runs).
void qlMiscSetMainWindow(HWND window);
HWND qlMiscGetMainWindow();
HWND qlMiscGetMsgBoxOwner();
// The style the box is shown with: MB_SETFOREGROUND always, MB_TOPMOST in
// place of MB_SYSTEMMODAL, MB_HELP only with a help id other than 0 and 1.
UINT qlMiscMessageBoxStyle(int help_id, UINT flags);
int qlMiscMessageBox(int help_id, HWND owner, const QlStr& text, const QlStr& caption, UINT flags);
// Shows the box itself, whatever the hook: MessageBoxIndirectW with the help
// callback when the style has MB_HELP, else MessageBoxW. For the program's
// own box road.
int qlMiscShowMessageBox(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                         UINT style);
void CALLBACK qlMiscMsgBoxHelpCallback(LPHELPINFO help_info);

// The error list; no log file is attached in this system.
QlStringList& qlMiscErrorList();
void qlMiscLogError(const QlStr& text);
void qlMiscReportLastError();

bool qlMiscPidlToPath(QlStr& path_out, LPCITEMIDLIST id_list);
bool qlMiscGetSpecialFolderPath(QlStr& path_out, int csidl);

class QlFile {
public:
    explicit QlFile(const QlStr& path) : path_(path) {}
    ~QlFile() { Close(); }
    QlFile(const QlFile&) = delete;
    QlFile& operator=(const QlFile&) = delete;

    bool OpenExisting(bool at_end);
    bool CreateAlways();
    void Close();
    bool Flush();
    DWORD Seek(LONG distance, DWORD method);
    bool Read(void* buffer, DWORD count, DWORD* read);
    bool Write(const void* buffer, DWORD count, DWORD* written);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool IsWriteRefused() const { return write_refused_ != 0; }

    void SetFlushAfterWrite(bool on) { flush_after_write_ = on; }
    void SetAppendCrLf(bool on) { append_crlf_ = on; }
    void SetWriteRefused(bool on) { write_refused_ = on; }

private:
    QlStr path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint8_t flush_after_write_ = 0;
    uint8_t append_crlf_ = 0;
    uint8_t write_refused_ = 0;
};
