// Running dialogs from their templates, the dialog object and centring.
#include "common/Dlg.h"

#include "common/DlgFont.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/QlString.h"

namespace {

const char kSource[] = "Dlg";
const int kLineFindResource = 112;
const int kLineLoadResource = 118;
const int kLineCopy = 124;
const int kLineNoCopy = 161;
const int kLineDialogFailed = 176;
const int kLineModelessFailed = 203;
const int kLineItem = 388;

QlDlgHost g_host = {};

// The resource bytes of a dialog template, or null (an assertion report).
const void* find_template(HINSTANCE module, LPCWSTR name, DWORD* size)
{
    HRSRC found = FindResourceW(module, name, RT_DIALOG);
    if (found == nullptr) {
        qlHostAssert(kSource, kLineFindResource);
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        qlHostAssert(kSource, kLineLoadResource);
        return nullptr;
    }
    *size = SizeofResource(module, found);
    return bytes;
}

uint8_t* bytes_of(HGLOBAL copy) { return static_cast<uint8_t*>(GlobalLock(copy)); }

size_t resource_size_of(HGLOBAL copy)
{
    SIZE_T size = GlobalSize(copy);
    return size > kQlDlgSpareBytes ? size - kQlDlgSpareBytes : 0;
}

int suspend_busy() { return g_host.suspend_busy ? g_host.suspend_busy() : 0; }
void resume_busy(int token)
{
    if (g_host.resume_busy)
        g_host.resume_busy(token);
}

// --- the font-choosing variant's failure texts
QlStr template_name_text(LPCWSTR name)
{
    QlStr text;
    if (IS_INTRESOURCE(name))
        text.Format(L"resource %d", static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    else
        text = name;
    return text;
}

void show_template_error(const wchar_t* format, LPCWSTR name)
{
    QlStr text;
    if (name != nullptr)
        text.Format(format, template_name_text(name).Text());
    else
        text = format;
    qlMiscMessageBox(0, nullptr, text, QlStr(L"xxdmsg"), MB_OK | MB_ICONERROR);
}

// The copy for the font-choosing variant: failures are shown.
HGLOBAL load_dialog_template(HINSTANCE module, LPCWSTR name)
{
    HRSRC found = FindResourceW(module, name, RT_DIALOG);
    if (found == nullptr) {
        show_template_error(L"Internal Error: FindResource failed", nullptr);
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        show_template_error(L"Internal Error: LoadResource failed", nullptr);
        return nullptr;
    }
    HGLOBAL copy = qlDlgCopyResource(bytes, SizeofResource(module, found));
    if (copy == nullptr)
        show_template_error(L"Internal Error: GlobalAlloc failed", nullptr);
    return copy;
}

bool set_dialog_font_and_style(HGLOBAL copy, const wchar_t* face, int points, DWORD extra_style)
{
    uint8_t* bytes = bytes_of(copy);
    if (bytes == nullptr)
        return false;
    bool ok = qlDlgSetFont(bytes, resource_size_of(copy), face, static_cast<uint16_t>(points), extra_style);
    GlobalUnlock(copy);
    return ok;
}

bool set_dialog_style(HGLOBAL copy, DWORD extra_style)
{
    uint8_t* bytes = bytes_of(copy);
    if (bytes == nullptr)
        return false;
    bool ok = qlDlgSetStyle(bytes, resource_size_of(copy), extra_style);
    GlobalUnlock(copy);
    return ok;
}

HGLOBAL load_with_font(HINSTANCE module, LPCWSTR name, const wchar_t* face, int points)
{
    HGLOBAL copy = load_dialog_template(module, name);
    if (copy == nullptr) {
        show_template_error(L"Internal error: load_dialog_template failed for %s", name);
        return nullptr;
    }
    if (!set_dialog_font_and_style(copy, face, points, 0)) {
        GlobalFree(copy);
        show_template_error(L"Internal error: set_dialog_font_and_style failed for %s", name);
        return nullptr;
    }
    return copy;
}

}  // namespace

void qlDlgSetHost(const QlDlgHost& host)
{
    g_host = host;
}

bool qlDlgCommonHandler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id)
{
    return g_host.common_handler && g_host.common_handler(dialog, message, wparam, lparam, help_id);
}

HGLOBAL qlDlgCopyResource(const void* resource, DWORD size)
{
    if (resource == nullptr)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_FIXED, size + kQlDlgSpareBytes);
    if (copy == nullptr)
        return nullptr;
    uint8_t* bytes = static_cast<uint8_t*>(copy);
    memcpy(bytes, resource, size);
    memset(bytes + size, 0, kQlDlgSpareBytes);
    return copy;
}

HGLOBAL qlDlgLoadTemplate(HINSTANCE module, LPCWSTR name, DWORD extra_style)
{
    DWORD size = 0;
    const void* bytes = find_template(module, name, &size);
    if (bytes == nullptr)
        return nullptr;
    HGLOBAL copy = qlDlgCopyResource(bytes, size);
    if (copy == nullptr) {
        qlHostAssert(kSource, kLineCopy);
        return nullptr;
    }
    wchar_t face[kQlDlgMaxFaceUnits + 2];
    int points = 0;
    // A template the patch refuses runs in its own font, with the style bits.
    if (!qlDlgFontGetSubstitute(module, face, kQlDlgMaxFaceUnits + 2, &points) ||
        !set_dialog_font_and_style(copy, face, points, extra_style))
        set_dialog_style(copy, extra_style);
    return copy;
}

INT_PTR qlDlgDialogBoxParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                            LPARAM init, DWORD extra_style)
{
    qlDlgFontInitOsVersion();
    int token = suspend_busy();
    INT_PTR result;
    if (extra_style != 0 || qlDlgNeedsFontSubstitution(module)) {
        HGLOBAL copy = qlDlgLoadTemplate(module, name, extra_style);
        if (copy == nullptr) {
            qlHostAssert(kSource, kLineNoCopy);
            resume_busy(token);
            return -1;
        }
        result = DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy), owner,
                                         procedure, init);
        GlobalFree(copy);
    } else {
        result = DialogBoxParamW(module, name, owner, procedure, init);
    }
    resume_busy(token);
    if (result == -1)
        qlHostAssert(kSource, kLineDialogFailed);
    return result;
}

HWND qlDlgCreateDialogParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                            LPARAM init)
{
    qlDlgFontInitOsVersion();
    HGLOBAL copy = qlDlgLoadTemplate(module, name, 0);
    if (copy == nullptr) {
        qlHostAssert(kSource, kLineNoCopy);
        return nullptr;
    }
    HWND window = CreateDialogIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy), owner,
                                             procedure, init);
    GlobalFree(copy);
    if (window == nullptr)
        qlHostAssert(kSource, kLineModelessFailed);
    return window;
}

INT_PTR dialog_box_with_font(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                             LPARAM init, const wchar_t* face, int points)
{
    HGLOBAL copy = load_with_font(module, name, face, points);
    if (copy == nullptr)
        return -1;
    int token = suspend_busy();
    INT_PTR result = DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy), owner,
                                             procedure, init);
    resume_busy(token);
    GlobalFree(copy);
    return result;
}

HWND create_dialog_with_font(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                             LPARAM init, const wchar_t* face, int points)
{
    HGLOBAL copy = load_with_font(module, name, face, points);
    if (copy == nullptr)
        return nullptr;
    HWND window = CreateDialogIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy), owner,
                                             procedure, init);
    GlobalFree(copy);
    return window;
}

INT_PTR dialog_box_with_style(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                              LPARAM init, DWORD extra_style)
{
    HGLOBAL copy = load_dialog_template(module, name);
    if (copy == nullptr) {
        show_template_error(L"Internal error: load_dialog_template failed for %s", name);
        return -1;
    }
    if (!set_dialog_style(copy, extra_style)) {
        GlobalFree(copy);
        show_template_error(L"Internal error: set_dialog_style failed for %s", name);
        return -1;
    }
    int token = suspend_busy();
    INT_PTR result = DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy), owner,
                                             procedure, init);
    resume_busy(token);
    GlobalFree(copy);
    return result;
}

// --- centring

void center_window_over(HWND window, HWND reference, const SIZE* size, POINT* position, bool move)
{
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    RECT around = work;
    if (reference != nullptr && !IsIconic(reference))
        GetWindowRect(reference, &around);
    int width = 0, height = 0;
    if (size != nullptr) {
        width = size->cx;
        height = size->cy;
    } else if (window != nullptr) {
        RECT own;
        GetWindowRect(window, &own);
        width = own.right - own.left;
        height = own.bottom - own.top;
    }
    QlDlgRect r = {around.left, around.top, around.right, around.bottom};
    QlDlgRect w = {work.left, work.top, work.right, work.bottom};
    int x = 0, y = 0;
    qlDlgCentredPosition(r, width, height, w, &x, &y);
    if (move && window != nullptr)
        MoveWindow(window, x, y, width, height, TRUE);
    if (position != nullptr) {
        position->x = x;
        position->y = y;
    }
}

// --- the dialog object

CDlg::CDlg(int template_id, HWND owner, LPARAM user, bool centre, int help_id)
    : owner_(owner), template_id_(template_id), user_(user), centre_(centre), help_id_(help_id)
{
}

INT_PTR CDlg::DoModal()
{
    HWND owner = owner_ ? owner_ : qlMiscGetMsgBoxOwner();
    if (owner != nullptr && !IsWindowVisible(owner))
        owner = nullptr;
    INT_PTR result = qlDlgDialogBoxParam(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_),
                                         owner, Procedure, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

BOOL CDlg::OnInitDialog()
{
    if (centre_) {
        HWND reference = GetWindow(window_, GW_OWNER);
        center_window_over(window_, reference, nullptr, nullptr, true);
    }
    return FALSE;
}

HWND CDlg::Item(int id, bool required) const
{
    HWND item = GetDlgItem(window_, id);
    if (required && item == nullptr)
        qlHostAssert(kSource, kLineItem);
    return item;
}

int CDlg::ItemText(int id, wchar_t* text, int units) const
{
    return static_cast<int>(GetDlgItemTextW(window_, id, text, units));
}

void CDlg::SetItemText(int id, const wchar_t* text) const
{
    SetDlgItemTextW(window_, id, text);
}

INT_PTR CALLBACK CDlg::Procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    CDlg* self = reinterpret_cast<CDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr)
        return 0;
    if (qlDlgCommonHandler(dialog, message, wparam, lparam, self->help_id_))
        return 1;
    if (message == WM_INITDIALOG)
        self->window_ = dialog;
    return self->Dispatch(message, wparam, lparam);
}

INT_PTR CDlg::Dispatch(UINT message, WPARAM wparam, LPARAM lparam)
{
    const int kNotifyPropertyHelp = -205;  // PSN_HELP
    const int kNotifyFileHelp = -605;      // CDN_HELP
    switch (message) {
    case WM_INITDIALOG: {
        in_init_ = true;
        BOOL result = OnInitDialog();
        in_init_ = false;
        return result;
    }
    case WM_COMMAND: {
        int id = LOWORD(wparam);
        if (id == IDOK)
            OnOK();
        else if (id == IDCANCEL)
            OnCancel();
        else if (id == 9)
            return 1;
        else
            return OnCommand(id, HIWORD(wparam), reinterpret_cast<HWND>(lparam));
        return 1;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lparam);
        int code = static_cast<int>(header->code);
        if (code == kNotifyPropertyHelp || code == kNotifyFileHelp)
            return 1;
        LRESULT result = 0;
        if (!OnNotify(header, &result))
            return 0;
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
        return 1;
    }
    case WM_HELP:
    case WM_CONTEXTMENU:
        return 1;
    case WM_CLOSE:
        return OnClose();
    case WM_DESTROY:
        return OnDestroy();
    case WM_MOVE:
        OnMove(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
        return 0;
    case WM_SIZE:
        return OnSize(static_cast<UINT>(wparam), LOWORD(lparam), HIWORD(lparam));
    case WM_PAINT:
        return OnPaint();
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        return OnSysColorChange();
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lparam));
    case WM_TIMER:
        return OnTimer(wparam);
    case WM_SYSCOMMAND:
        return OnSysCommand(wparam, lparam);
    case WM_SIZING:
        return OnSizing(static_cast<UINT>(wparam), reinterpret_cast<RECT*>(lparam));
    case WM_MOVING:
        OnMoving(reinterpret_cast<RECT*>(lparam));
        return 0;
    default:
        return DefaultHandler(message, wparam, lparam);
    }
}
