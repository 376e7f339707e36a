// The dialog library: every dialog of the builder runs through it.
//
// A dialog runs from its RT_DIALOG resource, or, where the resource font
// would look wrong (Windows 6.0 and later; the Japanese code page), from a
// copy of the template that carries a substitute font (DlgFont.h). The copy
// is the resource bytes followed by kQlDlgSpareBytes of room into which a
// longer font block can grow.
//
// What a dialog of the builder uses:
//   qlDlgDialogBoxParam     a modal dialog (the usual road)
//   qlDlgCreateDialogParam  a modeless dialog, same font rule
//   dialog_box_with_font,   a dialog in a font the caller chooses (a face and
//   create_dialog_with_font size from the string table, say)
//   dialog_box_with_style   a modal dialog with extra style bits
//   CDlg                    a dialog object with virtual handlers
// Every dialog procedure first offers each message to the program's common
// handler (qlDlgCommonHandler) with the dialog's help id; CDlg does that
// itself. The program installs its handler and its busy bracket with
// qlDlgSetHost.
//
// The template bytes (the first block below) are pure code, built in both
// trees; everything else is Win32.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/QlTypes.h"

// --- template bytes
//
// A template is a DLGTEMPLATE or, when its second WORD is 0xFFFF, a
// DLGTEMPLATEEX (the platform's published layouts). Its font block, present
// when the style has DS_SETFONT, follows the menu, class and title fields:
// point size (WORD), for the extended form also weight (WORD), italic (BYTE)
// and charset (BYTE), then the NUL-terminated face name. The items start at
// the next DWORD boundary.

const size_t kQlDlgSpareBytes = 64;
const uint32_t kQlDlgSetFontStyle = 0x40;  // DS_SETFONT
// A substitute face has at most this many units (a caller's buffer holds one more).
const int kQlDlgMaxFaceUnits = 31;

struct QlDlgTemplateLayout {
    bool extended;
    size_t style_offset;
    uint32_t style;
    uint16_t items;
    size_t font_offset;   // where the font block starts (or would start)
    size_t font_size;     // bytes of the font block, 0 without DS_SETFONT
    size_t items_offset;  // the first item: DWORD-aligned behind the font block
};

// False when the bytes do not hold a whole template header with its menu,
// class, title and font fields.
bool qlDlgReadLayout(const uint8_t* tpl, size_t size, QlDlgTemplateLayout* layout);
// Offset of the font block; 0 when the template is malformed.
size_t qlDlgFindFontBlock(const uint8_t* tpl, size_t size);
// Writes a font (face and point size) and ORs extra style bits and DS_SETFONT
// into a copy of resource_size bytes that has kQlDlgSpareBytes of room
// behind them; the items move to stay behind the new font block. Weight,
// italic and charset of an extended template stay as they are; one that had
// no font block gets weight 0, not italic, DEFAULT_CHARSET. False, with the
// copy untouched, when the template is malformed, the face is empty or
// longer than kQlDlgMaxFaceUnits, or the grown template would not fit.
bool qlDlgSetFont(uint8_t* copy, size_t resource_size, const QlChar* face, uint16_t points,
                  uint32_t extra_style);
// ORs extra style bits into the style of either form; false when malformed.
bool qlDlgSetStyle(uint8_t* copy, size_t size, uint32_t extra_style);

// --- centring
struct QlDlgRect {
    int left, top, right, bottom;
};
// Where a window of width x height goes when centred on the reference: moved
// left and up to keep its right and bottom edges on the work area, then no
// further left or up than the work area's left and top.
void qlDlgCentredPosition(const QlDlgRect& reference, int width, int height,
                          const QlDlgRect& work_area, int* x, int* y);

#ifdef _WIN32
#include <windows.h>

// Help id of a dialog that has no help of its own: the common handler leaves
// its Help button and WM_HELP alone.
const int kQlDlgNoHelp = 0xFFFF;

// --- what the program supplies
struct QlDlgHost {
    // First handler of every dialog message (Help button, F1, centring of
    // message boxes); true when it handled the message.
    bool (*common_handler)(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id);
    // Around every modal dialog: lifts the program's busy state for the
    // dialog's lifetime; the token goes back to resume.
    int (*suspend_busy)();
    void (*resume_busy)(int token);
};
void qlDlgSetHost(const QlDlgHost& host);
// The program's common handler; false when none is installed.
bool qlDlgCommonHandler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id);

// --- templates
// A GlobalAlloc (GMEM_FIXED) block of size + kQlDlgSpareBytes holding the
// resource bytes; null when it cannot be had.
HGLOBAL qlDlgCopyResource(const void* resource, DWORD size);
// The template copy, patched with the substitute font when one applies and
// with the extra style bits; the caller frees it. Null (an assertion report)
// when the resource is missing.
HGLOBAL qlDlgLoadTemplate(HINSTANCE module, LPCWSTR name, DWORD extra_style);

// --- running dialogs
// Modal; -1 (an assertion report) when the dialog cannot be made.
INT_PTR qlDlgDialogBoxParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                            LPARAM init, DWORD extra_style = 0);
// Modeless; null (an assertion report) when the dialog cannot be made.
HWND qlDlgCreateDialogParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                            LPARAM init);

// In a font the caller chooses; failures are shown (caption "xxdmsg") and
// give -1 or null.
INT_PTR dialog_box_with_font(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                             LPARAM init, const wchar_t* face, int points);
HWND create_dialog_with_font(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                             LPARAM init, const wchar_t* face, int points);
INT_PTR dialog_box_with_style(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                              LPARAM init, DWORD extra_style);

// --- the dialog object
//
// A modal dialog driven by virtual handlers. The shared procedure keeps the
// object in the dialog's DWLP_USER slot; every message first goes to the
// common handler with the object's help id. Command 1 calls OnOK, 2
// OnCancel, 9 (Help) is answered, the others go to OnCommand.
class CDlg {
public:
    explicit CDlg(int template_id, HWND owner = nullptr, LPARAM user = 0, bool centre = true,
                  int help_id = kQlDlgNoHelp);
    virtual ~CDlg() = default;
    CDlg(const CDlg&) = delete;
    CDlg& operator=(const CDlg&) = delete;

    // Runs the dialog from the program's resources. The owner is the one
    // given or the message-box owner, dropped when it is not visible.
    virtual INT_PTR DoModal();
    // Centres the dialog when asked; false: the focus was not set.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(window_, 1); }
    virtual void OnCancel() { EndDialog(window_, 2); }
    virtual bool OnNotify(NMHDR*, LRESULT* result) { *result = 0; return false; }
    virtual bool OnClose() { return false; }
    virtual bool OnSize(UINT, int, int) { return false; }
    virtual bool OnGetMinMaxInfo(MINMAXINFO*) { return false; }
    virtual bool OnSizing(UINT, RECT*) { return false; }
    virtual void OnMove(int, int) {}
    virtual void OnMoving(RECT*) {}
    virtual bool OnPaint() { return false; }
    virtual bool OnCommandId(int) { return false; }
    virtual bool OnCommand(int id, int, HWND) { return OnCommandId(id); }
    virtual bool OnTimer(UINT_PTR) { return false; }
    virtual bool OnDestroy() { return false; }
    virtual bool OnSysCommand(WPARAM, LPARAM) { return false; }
    virtual bool OnSysColorChange() { return false; }
    virtual INT_PTR DefaultHandler(UINT, WPARAM, LPARAM) { return 0; }

    HWND Window() const { return window_; }
    HWND Owner() const { return owner_; }
    int TemplateId() const { return template_id_; }
    LPARAM UserValue() const { return user_; }
    int HelpId() const { return help_id_; }
    bool InInit() const { return in_init_; }
    // A control of the dialog; with required, a missing one is an assertion report.
    HWND Item(int id, bool required = false) const;
    int ItemText(int id, wchar_t* text, int units) const;
    void SetItemText(int id, const wchar_t* text) const;

    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

protected:
    INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);

    HWND window_ = nullptr;
    HWND owner_;
    int template_id_;
    LPARAM user_;
    bool centre_;
    bool in_init_ = false;
    int help_id_;
};

// Centres a window on the reference window (the work area when it is null
// or minimised) inside the work area. size: the window's size, null for its
// own; position (may be null): where it goes. With move the window moves.
void center_window_over(HWND window, HWND reference, const SIZE* size, POINT* position, bool move);
#endif
