// The resizable dialog classes.
#include "builder/ui/cdlg.h"

#include <commctrl.h>

#include "builder/sfxoptions.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/QlWin32.h"

const wchar_t kSizingProfile[] = L"quollase.ini";
const wchar_t kSizingSection[] = L"Quolla Self-Extractor";

namespace {

const char kSource[] = "cdlg";
const int kLineAnchorFlags = 212;
const int kLineNoWindow = 240;
const int kLineNoStateName = 651;
const wchar_t kGripOldProcedure[] = L"QlGripProc";
const wchar_t kComDlgObject[] = L"QlSizingComDlg";
const wchar_t kFileView[] = L"ShellDll_DefView";

int g_controls_version = 0;

bool full_window_drag()
{
    BOOL on = FALSE;
    return SystemParametersInfoW(SPI_GETDRAGFULLWINDOWS, 0, &on, 0) && on;
}

// The grip paints nothing itself (the dialog draws it) and shows the
// diagonal-resize cursor; the rest goes to the scroll bar's own procedure.
LRESULT CALLBACK grip_procedure(HWND grip, UINT message, WPARAM wparam, LPARAM lparam)
{
    WNDPROC old = reinterpret_cast<WNDPROC>(GetPropW(grip, kGripOldProcedure));
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(grip, &paint);
        EndPaint(grip, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, IDC_SIZENWSE));
        return TRUE;
    case WM_NCDESTROY:
        RemovePropW(grip, kGripOldProcedure);
        break;
    }
    return old ? CallWindowProcW(old, grip, message, wparam, lparam) : DefWindowProcW(grip, message, wparam, lparam);
}

RECT grip_rect(HWND dialog)
{
    RECT client;
    GetClientRect(dialog, &client);
    int cx = GetSystemMetrics(SM_CXVSCROLL), cy = GetSystemMetrics(SM_CYHSCROLL);
    RECT r = {client.right - cx, client.bottom - cy, client.right, client.bottom};
    return r;
}

}  // namespace

// --- QlControlAnchor

bool QlControlAnchor::ValidFlags(uint8_t size, uint8_t position)
{
    auto word_ok = [](uint8_t w) { return w != 0 && (!(w & kAnchorKeep) || w == kAnchorKeep) && !(w & ~0x0D); };
    if (!word_ok(size) || !word_ok(position))
        return false;
    if ((size & kAnchorWidth) && (position & kAnchorWidth))
        return false;
    if ((size & kAnchorHeight) && (position & kAnchorHeight))
        return false;
    if (position == kAnchorBoth && size != kAnchorKeep)
        return false;
    if (size == kAnchorBoth && position != kAnchorKeep)
        return false;
    return true;
}

QlControlAnchor::QlControlAnchor(HWND control, uint8_t size_flags, uint8_t position_flags)
    : control_(control), size_flags_(size_flags), position_flags_(position_flags)
{
    if (!ValidFlags(size_flags, position_flags)) {
        qlHostAssert(kSource, kLineAnchorFlags);
        size_flags_ = position_flags_ = kAnchorKeep;
    }
}

void QlControlAnchor::Move(int dx, int dy, bool chain, HDWP* batch)
{
    if (control_ != nullptr && IsWindow(control_)) {
        RECT r;
        GetWindowRect(control_, &r);
        MapWindowPoints(nullptr, GetParent(control_), reinterpret_cast<POINT*>(&r), 2);
        int x = r.left, y = r.top, width = r.right - r.left, height = r.bottom - r.top;
        if (size_flags_ & kAnchorWidth)
            width += dx;
        if (size_flags_ & kAnchorHeight)
            height += dy;
        if (position_flags_ & kAnchorWidth)
            x += dx;
        if (position_flags_ & kAnchorHeight)
            y += dy;
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
        if (position_flags_ == kAnchorKeep)
            flags |= SWP_NOMOVE;
        else if (size_flags_ == kAnchorKeep)
            flags |= SWP_NOSIZE;
        if (batch != nullptr && *batch != nullptr)
            *batch = DeferWindowPos(*batch, control_, nullptr, x, y, width, height, flags);
        else
            SetWindowPos(control_, nullptr, x, y, width, height, flags);
    }
    if (chain && next_ != nullptr)
        next_->Move(dx, dy, true, batch);
}

// --- CSizingDlg

CSizingDlg::CSizingDlg(int template_id, HWND owner, LPARAM user, bool centre, int help_id)
    : CDlg(template_id, owner, user, centre, help_id),
      // Windows 95 and NT 4 cannot draw a resizable dialog's frame well.
      resizable_(g_os.win98_or_later || g_os.win2000_or_later)
{
}

CSizingDlg::~CSizingDlg()
{
    while (anchors_ != nullptr) {
        QlControlAnchor* next = anchors_->GetNext();
        delete anchors_;
        anchors_ = next;
    }
}

INT_PTR CSizingDlg::DoModal()
{
    HWND owner = owner_ ? owner_ : qlMiscGetMsgBoxOwner();
    INT_PTR result = qlDlgDialogBoxParam(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_), owner,
                                         CDlg::Procedure, reinterpret_cast<LPARAM>(this),
                                         resizable_ ? WS_THICKFRAME : 0);
    window_ = nullptr;
    size_grip_ = nullptr;
    return result;
}

BOOL CSizingDlg::OnInitDialog()
{
    BOOL result = CDlg::OnInitDialog();
    RecordInitialSize();
    if (resizable_) {
        RECT r = grip_rect(window_);
        size_grip_ = CreateWindowExW(WS_EX_TRANSPARENT, L"Scrollbar", L"", 0x50000008, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, window_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSizeGripId)),
                                     GetModuleHandleW(nullptr), nullptr);
        if (size_grip_ != nullptr) {
            SetPropW(size_grip_, kGripOldProcedure,
                     reinterpret_cast<HANDLE>(GetWindowLongPtrW(size_grip_, GWLP_WNDPROC)));
            SetWindowLongPtrW(size_grip_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(grip_procedure));
            AddAnchor(new QlControlAnchor(size_grip_, kAnchorKeep, kAnchorBoth));
        }
    }
    return result;
}

void CSizingDlg::RecordInitialSize()
{
    RECT window, client;
    GetWindowRect(window_, &window);
    GetClientRect(window_, &client);
    initial_size_.cx = window.right - window.left;
    initial_size_.cy = window.bottom - window.top;
    last_size_.cx = client.right;
    last_size_.cy = client.bottom;
}

bool CSizingDlg::OnSize(UINT type, int, int)
{
    if (resizable_ && (type == SIZE_RESTORED || type == SIZE_MAXIMIZED || !full_window_drag())) {
        if (!in_init_)
            moved_or_sized_ = true;
        RepositionControls();
        InvalidateRect(window_, nullptr, TRUE);
    }
    if (!in_init_)
        SaveState();
    return false;
}

bool CSizingDlg::OnGetMinMaxInfo(MINMAXINFO* info)
{
    if (!resizable_ || initial_size_.cx == 0)
        return false;
    info->ptMinTrackSize.x = initial_size_.cx;
    info->ptMinTrackSize.y = initial_size_.cy;
    return true;
}

bool CSizingDlg::OnSizing(UINT, RECT*)
{
    if (!resizable_ || !full_window_drag())
        return false;
    moved_or_sized_ = true;
    RepositionControls();
    RECT corner = grip_rect(window_);
    InflateRect(&corner, 4, 4);
    InvalidateRect(window_, &corner, TRUE);
    return false;
}

void CSizingDlg::OnMove(int, int)
{
    if (!in_init_)
        SaveState();
}

void CSizingDlg::OnMoving(RECT*)
{
    if (!in_init_)
        moved_or_sized_ = true;
}

bool CSizingDlg::OnPaint()
{
    if (size_grip_ == nullptr || IsZoomed(window_))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    RECT corner = grip_rect(window_);
    DrawFrameControl(dc, &corner, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
    EndPaint(window_, &paint);
    return true;
}

void CSizingDlg::RepositionControls()
{
    RECT client;
    GetClientRect(window_, &client);
    int dx = client.right - last_size_.cx, dy = client.bottom - last_size_.cy;
    if ((dx != 0 || dy != 0) && anchors_ != nullptr) {
        HDWP batch = deferred_ ? BeginDeferWindowPos(anchor_count_) : nullptr;
        anchors_->Move(dx, dy, true, deferred_ ? &batch : nullptr);
        if (batch != nullptr)
            EndDeferWindowPos(batch);
    }
    last_size_.cx = client.right;
    last_size_.cy = client.bottom;
}

void CSizingDlg::SaveState()
{
    if (state_name_.IsNull() || !state_name_.HasText() || in_init_ || window_ == nullptr)
        return;
    bool zoomed = IsZoomed(window_) != FALSE;
    RECT r = {0, 0, 0, 0};
    if (moved_or_sized_) {
        if (zoomed) {
            WINDOWPLACEMENT place = {};
            place.length = sizeof place;
            GetWindowPlacement(window_, &place);
            r = place.rcNormalPosition;
        } else {
            GetWindowRect(window_, &r);
        }
        placement_.session = session_tag_;
    }
    placement_.left = r.left;
    placement_.top = r.top;
    placement_.right = r.right;
    placement_.bottom = r.bottom;
    placement_.zoomed = zoomed ? 1 : 0;
    SavePlacement(placement_);
}

void CSizingDlg::GetSavedRect(RECT* rect, bool* zoomed)
{
    SetRectEmpty(rect);
    *zoomed = false;
    if (state_name_.IsNull() || !state_name_.HasText() || !restore_allowed_)
        return;
    QlSavedPlacement p = {};
    if (!LoadPlacement(&p) || p.right < 0 || p.bottom < 0 || p.right - p.left < 0 || p.bottom - p.top < 0) {
        placement_ = QlSavedPlacement();
        return;
    }
    placement_ = p;
    SetRect(rect, p.left, p.top, p.right, p.bottom);
    *zoomed = p.zoomed != 0;
}

void CSizingDlg::RestoreState()
{
    if (!qlCheck(window_ != nullptr && IsWindow(window_), kSource, kLineNoWindow))
        return;
    RECT r;
    bool zoomed = false;
    GetSavedRect(&r, &zoomed);
    if (IsRectEmpty(&r) || (placement_.session != 0 && placement_.session != session_tag_) || !resizable_) {
        center_window_over(window_, GetWindow(window_, GW_OWNER), nullptr, nullptr, true);
        return;
    }
    MoveWindow(window_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    if (zoomed)
        ShowWindow(window_, SW_SHOWMAXIMIZED);
}

bool CSizingDlg::LoadPlacementNamed(const QlStr& name, QlSavedPlacement* placement)
{
    if (!qlCheck(name.HasText(), kSource, kLineNoStateName))
        return false;
    return qlWin32GetPrivateProfileStruct(QlStr(kSizingSection), name, placement, sizeof *placement,
                                          QlStr(kSizingProfile));
}

bool CSizingDlg::LoadPlacement(QlSavedPlacement* placement)
{
    return LoadPlacementNamed(state_name_, placement);
}

bool CSizingDlg::SavePlacementNamed(const QlStr& name, const QlSavedPlacement& placement)
{
    if (!qlCheck(name.HasText(), kSource, kLineNoStateName))
        return false;
    return qlWin32WritePrivateProfileStruct(QlStr(kSizingSection), name, &placement, sizeof placement,
                                            QlStr(kSizingProfile));
}

bool CSizingDlg::SavePlacement(const QlSavedPlacement& placement)
{
    return SavePlacementNamed(state_name_, placement);
}

void CSizingDlg::AddAnchor(QlControlAnchor* anchor)
{
    anchor->SetNext(anchors_);
    anchors_ = anchor;
    ++anchor_count_;
}

void CSizingDlg::AddAnchor(int control_id, uint8_t size_flags, uint8_t position_flags)
{
    AddAnchor(new QlControlAnchor(Item(control_id, true), size_flags, position_flags));
}

void CSizingDlg::SetStateName(const QlChar* name)
{
    state_name_ = name ? QlStr(name) : QlStr();
    restore_allowed_ = name != nullptr;
}

// --- CSizingComDlg

void set_sizing_common_controls_version(int version)
{
    g_controls_version = version;
}

int sizing_view_command(int view, int controls_version, bool windows_me)
{
    static const int kCommands[5] = {28713, 28716, 28714, 28715, 28718};
    if (view >= 0 && view < 5)
        return kCommands[view];
    if (view == 5)
        return controls_version >= 600 ? 28717 : windows_me ? 28715 : 28721;
    return -1;
}

CSizingComDlg::CSizingComDlg(HWND hook_dialog, int template_id, HWND owner, const QlChar* state_name, LPARAM user)
    : CSizingDlg(template_id, owner, user, false)
{
    window_ = hook_dialog;
    SetStateName(state_name);
    // Without kept session states a placement holds for this run alone.
    if (qlWin32GetPrivateProfileInt(QlStr(kSizingSection), QlStr(L"KeepSessionStates"), 1, QlStr(kSizingProfile)) == 0)
        session_tag_ = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(qlMiscGetMsgBoxOwner()));
    if (!qlCheck(window_ != nullptr && IsWindow(window_), kSource, kLineNoWindow))
        return;
    SetPropW(window_, kComDlgObject, this);
    SetWindowLongPtrW(window_, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    old_hook_procedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&CSizingComDlg::Procedure)));
    HWND parent = GetParent(window_);
    if (parent != nullptr) {
        SetPropW(parent, kComDlgObject, this);
        old_parent_procedure_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSizingComDlg::ParentProcedure)));
    }
    RecordInitialSize();
}

CSizingComDlg::~CSizingComDlg()
{
    if (window_ != nullptr && IsWindow(window_)) {
        if (old_hook_procedure_)
            SetWindowLongPtrW(window_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(old_hook_procedure_));
        RemovePropW(window_, kComDlgObject);
        HWND parent = GetParent(window_);
        if (parent != nullptr && old_parent_procedure_) {
            SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_parent_procedure_));
            RemovePropW(parent, kComDlgObject);
        }
    }
    window_ = nullptr;
}

LRESULT CALLBACK CSizingComDlg::ParentProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    CSizingComDlg* self = static_cast<CSizingComDlg*>(GetPropW(window, kComDlgObject));
    if (message == WM_HELP)
        return 1;
    WNDPROC old = self ? self->old_parent_procedure_ : nullptr;
    return old ? CallWindowProcW(old, window, message, wparam, lparam) : DefWindowProcW(window, message, wparam, lparam);
}

INT_PTR CALLBACK CSizingComDlg::Procedure(HWND hook, UINT message, WPARAM wparam, LPARAM lparam)
{
    CSizingComDlg* self = static_cast<CSizingComDlg*>(GetPropW(hook, kComDlgObject));
    if (self == nullptr)
        return 0;
    switch (message) {
    case WM_MOVE:
    case WM_SIZE:
    case WM_GETMINMAXINFO:
    case WM_SIZING:
    case WM_MOVING:
        return self->Dispatch(message, wparam, lparam);
    case WM_SHOWWINDOW:
        if (wparam)
            self->RestoreState();
        break;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        if (HWND view = self->FileView())
            SendMessageW(view, message, wparam, lparam);
        self->OnSysColorChange();
        break;
    case WM_COMMAND:
        if ((LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) && self->ViewStateWanted())
            self->SaveViewState();
        if (self->OnCommandId(LOWORD(wparam)))
            return 1;
        break;
    case WM_NCDESTROY: {
        // The object goes with its dialog.
        WNDPROC old = self->old_hook_procedure_;
        delete self;
        return old ? CallWindowProcW(old, hook, message, wparam, lparam) : 0;
    }
    }
    return self->old_hook_procedure_ ? CallWindowProcW(self->old_hook_procedure_, hook, message, wparam, lparam)
                                     : 0;
}

bool CSizingComDlg::OnSize(UINT type, int width, int height)
{
    return in_init_ ? false : CSizingDlg::OnSize(type, width, height);
}

void CSizingComDlg::OnMove(int x, int y)
{
    if (!in_init_)
        CSizingDlg::OnMove(x, y);
}

bool CSizingComDlg::OnCommand(int id, int code, HWND control)
{
    if (OnCommandId(id))
        return true;
    return old_hook_procedure_ &&
           CallWindowProcW(old_hook_procedure_, window_, WM_COMMAND, MAKEWPARAM(id, code),
                           reinterpret_cast<LPARAM>(control)) != 0;
}

void CSizingComDlg::RecordInitialSize()
{
    CSizingDlg::RecordInitialSize();
}

HWND CSizingComDlg::FileView() const
{
    HWND parent = window_ ? GetParent(window_) : nullptr;
    return parent ? FindWindowExW(parent, nullptr, kFileView, nullptr) : nullptr;
}

bool CSizingComDlg::ViewStateWanted() const
{
    return g_os.win2000_or_later &&
           qlWin32GetPrivateProfileInt(QlStr(kSizingSection), QlStr(L"EnableViewState"), 1, QlStr(kSizingProfile)) != 0;
}

void CSizingComDlg::RestoreState()
{
    if (positioned_ || window_ == nullptr)
        return;
    positioned_ = true;
    HWND dialog = GetParent(window_);
    RECT r;
    bool zoomed = false;
    GetSavedRect(&r, &zoomed);
    if (!IsRectEmpty(&r) && (placement_.session == 0 || placement_.session == session_tag_) && resizable_) {
        MoveWindow(dialog, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        if (zoomed)
            ShowWindow(dialog, SW_SHOWMAXIMIZED);
    } else {
        SIZE size = initial_size_;
        center_window_over(dialog, GetWindow(dialog, GW_OWNER), size.cx ? &size : nullptr, nullptr, true);
    }
    if (ViewStateWanted() && LoadViewState() && view_.session == session_tag_) {
        if (HWND view = FileView()) {
            if (view_.view_command >= 0)
                SendMessageW(view, WM_COMMAND, static_cast<WPARAM>(view_.view_command), 0);
            if (view_.sort_command >= 0)
                SendMessageW(view, WM_COMMAND, static_cast<WPARAM>(view_.sort_command), 0);
        }
    }
}

bool CSizingComDlg::LoadViewState()
{
    if (!qlCheck(state_name_.HasText(), kSource, kLineNoStateName))
        return false;
    QlStr key;
    key.Format(L"%sState", state_name_.Text());
    ViewState state;
    if (!qlWin32GetPrivateProfileStruct(QlStr(kSizingSection), key, &state, sizeof state, QlStr(kSizingProfile)))
        return false;
    view_ = state;
    return true;
}

void CSizingComDlg::SaveViewState()
{
    HWND view = FileView();
    HWND list = view ? GetDlgItem(view, 1) : nullptr;
    if (list == nullptr || !state_name_.HasText())
        return;
    int mode = -1;
    if (g_controls_version >= 600) {
        mode = static_cast<int>(SendMessageW(list, LVM_GETVIEW, 0, 0) & 7);
        // Thumbnails: an icon view with images wider than icons. The common
        // controls are loaded: the file dialog uses them.
        typedef BOOL(WINAPI * IconSizeFn)(HIMAGELIST, int*, int*);
        HMODULE controls = GetModuleHandleW(L"comctl32.dll");
        IconSizeFn icon_size = controls ? reinterpret_cast<IconSizeFn>(reinterpret_cast<void*>(
                                              GetProcAddress(controls, "ImageList_GetIconSize")))
                                        : nullptr;
        HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
        int cx = 0, cy = 0;
        if (mode == LV_VIEW_ICON && images && icon_size && icon_size(images, &cx, &cy) &&
            cx > GetSystemMetrics(SM_CXICON))
            mode = 5;
    } else {
        mode = static_cast<int>(GetWindowLongW(list, GWL_STYLE) & 3);
        if (GetDlgItem(view, 0) != nullptr)
            mode = 5;
    }
    view_.session = session_tag_;
    view_.view_command = sizing_view_command(mode, g_controls_version, g_os.win_me);
    view_.sort_command = -1;
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    int items = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 0; i < items && i < 50; ++i) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        if (!SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item)))
            continue;
        if (item.fmt & (g_controls_version >= 600 ? 0x0600 : 0x3000)) {
            view_.sort_command = (g_controls_version >= 600 ? 30210 : 29232) + i;
            break;
        }
    }
    QlStr key;
    key.Format(L"%sState", state_name_.Text());
    qlWin32WritePrivateProfileStruct(QlStr(kSizingSection), key, &view_, sizeof view_, QlStr(kSizingProfile));
}
