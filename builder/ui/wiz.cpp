// The wizard frame, its page switch and the page controls built from a
// template.
#include "builder/ui/wiz.h"

#include "builder/build.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "builder/trace.h"
#include "builder/ui/dlg.h"
#include "builder/ui/msgsink.h"
#include "builder/ui/wizbmp.h"
#include "builder/ui/wizres.h"
#include "builder/winsfx.h"
#include "common/Dlg.h"
#include "common/QlWin32.h"

namespace {

const char kSource[] = "wiz";
const int kLineNoFrame = 212;
const int kZipTextLimit = 260;

struct FrameState {
    HWND frame = nullptr;
    HWND back = nullptr;
    HWND next = nullptr;
    HWND close = nullptr;
    HWND heading = nullptr;
    QlStr page_name;
    WizardPage page = nullptr;
    QlStr first_name;
    WizardPage first_page = nullptr;
    HFONT heading_font = nullptr;
    HICON icon = nullptr;
    WNDPROC bitmap_proc = nullptr;
    bool centred_once = false;
    bool lines_subclassed = false;
    bool built = false;
    bool wizard_mode = false;
};

FrameState g_wiz;

struct VersionFlags {
    bool new_shell = false;
    bool win32s = false;
    bool nt351_or_later = false;
    bool nt = false;
};
VersionFlags g_version;

const wchar_t* frame_property()
{
    static QlStr name;
    if (!name.HasText())
        name = load_message(kMsgCaption);
    return name.Text();
}

HFONT frame_font()
{
    return reinterpret_cast<HFONT>(SendMessageW(g_wiz.frame, WM_GETFONT, 0, 0));
}

void subclass_lines(HWND frame)
{
    for (int id : {IDC_WIZ_LINE, IDC_WIZ_LINE2}) {
        HWND line = GetDlgItem(frame, id);
        if (line) {
            SetWindowLongPtrW(line, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(etched_line_proc));
            InvalidateRect(line, nullptr, TRUE);
        }
    }
}

// The bitmap control paints as a static does, then the picture goes over it.
LRESULT CALLBACK bitmap_control_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = CallWindowProcW(g_wiz.bitmap_proc, control, message, wparam, lparam);
    if (message == WM_PAINT)
        PostMessageW(GetParent(control), kWizRepaintBitmap, 0, 0);
    return result;
}

// --- the frame's handlers; each answers non-zero when the message is done

INT_PTR on_init(HWND frame, WPARAM, LPARAM)
{
    g_wiz.icon = LoadIconW(GetModuleHandleW(nullptr), L"WINSFX");
    SetPropW(frame, frame_property(), reinterpret_cast<HANDLE>(1));
    g_wiz.frame = frame;
    g_wiz.back = GetDlgItem(frame, IDC_WIZ_BACK);
    g_wiz.next = GetDlgItem(frame, IDC_WIZ_NEXT);
    g_wiz.close = GetDlgItem(frame, IDC_WIZ_CLOSE);
    g_wiz.heading = GetDlgItem(frame, IDC_WIZ_HEADING);
    SendMessageW(g_wiz.next, WM_SETFONT, reinterpret_cast<WPARAM>(g_wiz.heading_font), TRUE);
    if (!g_wiz.centred_once) {
        g_wiz.centred_once = true;
        center_window(frame, nullptr, nullptr, true);
    }
    HFONT font = frame_font();
    for (int id : {IDC_WIZ_HEADING, IDC_WIZ_BACK, IDC_WIZ_CLOSE, IDC_WIZ_HELP, IDC_WIZ_FINISH})
        SendDlgItemMessageW(frame, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EnableWindow(GetDlgItem(frame, IDC_WIZ_FINISH), FALSE);
    set_main_window(frame);
    PostMessageW(frame, kWizShowFirstPage, 0, 0);
    SetWindowTextW(frame, load_message(kMsgCaption).Text());
    if (g_version.new_shell && !g_wiz.lines_subclassed) {
        g_wiz.lines_subclassed = true;
        subclass_lines(frame);
    }
    load_side_bitmap(frame, IDC_WIZ_BITMAP);
    realize_side_bitmap_palette(frame);
    return 1;
}

INT_PTR on_command(HWND frame, WPARAM wparam, LPARAM lparam)
{
    int id = LOWORD(wparam);
    if (id == IDCANCEL || id == IDC_WIZ_CLOSE) {
        // While a build runs the page hears of it (to stop the build), but
        // the frame stays.
        INT_PTR answer = g_wiz.page ? g_wiz.page(frame, WM_COMMAND, wparam, lparam) : 0;
        if (answer == 0 && !is_busy())
            EndDialog(frame, id);
        return 1;
    }
    if (id == IDC_WIZ_FINISH) {
        if (g_wiz.page && g_wiz.page(frame, WM_COMMAND, wparam, lparam) == 0)
            show_wizard_page(WizPage::Build);
        return 1;
    }
    return 0;
}

INT_PTR on_activate(HWND frame, WPARAM wparam, LPARAM)
{
    if (LOWORD(wparam) == WA_ACTIVE || LOWORD(wparam) == WA_CLICKACTIVE) {
        if (!side_bitmap_loaded())
            load_side_bitmap(frame, IDC_WIZ_BITMAP);
        realize_side_bitmap_palette(frame);
        PostMessageW(frame, kWizRepaintBitmap, 0, 0);
    }
    return 0;
}

INT_PTR on_repaint_bitmap(HWND frame, WPARAM, LPARAM)
{
    paint_side_bitmap(GetDlgItem(frame, IDC_WIZ_BITMAP));
    return 0;
}

INT_PTR on_show_first_page(HWND frame, WPARAM, LPARAM)
{
    HWND control = GetDlgItem(frame, IDC_WIZ_BITMAP);
    if (control && g_wiz.bitmap_proc == nullptr)
        g_wiz.bitmap_proc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bitmap_control_proc)));
    show_wizard_page(g_wiz.first_name, g_wiz.first_page);
    return 1;
}

// A Zip name from the main archiver (or a second builder): taken only when
// no dialog is open over the frame.
INT_PTR on_open_zip_file(HWND frame, WPARAM wparam, LPARAM lparam)
{
    wchar_t text[kZipTextLimit + 1] = {};
    ATOM atom = static_cast<ATOM>(lparam);
    UINT n = GlobalGetAtomNameW(atom, text, kZipTextLimit + 1);
    GlobalDeleteAtom(atom);
    SetPropW(frame, frame_property(), reinterpret_cast<HANDLE>(1));
    HWND popup = GetLastActivePopup(frame);
    SetForegroundWindow(popup);
    if (popup != frame) {
        message_box_id(IDS_WIZ_CANNOT_OPEN_NOW, load_message(IDS_WIZ_CANNOT_OPEN_NOW), MB_OK, popup);
        return 1;
    }
    clear_zip_and_exe_names();
    g_options.zip_name = QlStr(text, static_cast<int>(n));
    show_wizard_page(wparam != 0 ? WizPage::GetFile : WizPage::Panel1);
    return 1;
}

INT_PTR on_destroy(HWND frame, WPARAM, LPARAM)
{
    if (g_wiz.icon)
        DestroyIcon(g_wiz.icon);
    g_wiz.icon = nullptr;
    RemovePropW(frame, frame_property());
    return 0;
}

struct FrameMessageEntry {
    UINT message;
    INT_PTR (*handler)(HWND, WPARAM, LPARAM);
};

const FrameMessageEntry kFrameMessages[] = {
    {WM_INITDIALOG, on_init},
    {WM_COMMAND, on_command},
    {WM_ACTIVATE, on_activate},
    {WM_PALETTECHANGED, on_repaint_bitmap},
    {kWizRepaintBitmap, on_repaint_bitmap},
    {kWizShowFirstPage, on_show_first_page},
    {kWizOpenZipFile, on_open_zip_file},
    {WM_DESTROY, on_destroy},
};

struct ChildList {
    HWND parent;
    HWND area;
    RECT area_rect;
    HWND list[512];
    int count;
};

BOOL CALLBACK collect_page_child(HWND child, LPARAM data)
{
    ChildList* c = reinterpret_cast<ChildList*>(data);
    if (GetParent(child) != c->parent || child == c->area || c->count >= 512)
        return TRUE;
    RECT r, overlap;
    GetWindowRect(child, &r);
    if (IntersectRect(&overlap, &r, &c->area_rect))
        c->list[c->count++] = child;
    return TRUE;
}

// Reads a template string field (menu, class, title): none, an ordinal, or
// a NUL-terminated text; answers the position behind it.
const WORD* skip_field(const WORD* p, WORD* ordinal, const wchar_t** text)
{
    if (ordinal)
        *ordinal = 0;
    if (text)
        *text = nullptr;
    if (*p == 0xFFFF) {
        if (ordinal)
            *ordinal = p[1];
        return p + 2;
    }
    if (text)
        *text = reinterpret_cast<const wchar_t*>(p);
    while (*p)
        ++p;
    return p + 1;
}

const WORD* align_dword(const WORD* p, const void* base)
{
    uintptr_t offset = reinterpret_cast<const uint8_t*>(p) - static_cast<const uint8_t*>(base);
    return reinterpret_cast<const WORD*>(static_cast<const uint8_t*>(base) + ((offset + 3) & ~uintptr_t(3)));
}

}  // namespace

void get_windows_version_flags()
{
    DWORD version = GetVersion();
    DWORD major = version & 0xFF, minor = (version >> 8) & 0xFF;
    g_version = VersionFlags();
    if (version & 0x80000000u) {
        if (major > 3)
            g_version.new_shell = true;
        else
            g_version.win32s = true;
        return;
    }
    if (major >= 4) {
        g_version.new_shell = true;
        g_version.nt351_or_later = true;
    } else if (minor > 50) {
        g_version.nt351_or_later = true;
    }
    g_version.nt = true;
}

bool is_new_shell()
{
    return g_version.new_shell;
}

HWND wizard_frame()
{
    return g_wiz.frame;
}

bool wizard_mode()
{
    return g_wiz.wizard_mode;
}

void note_wizard_build(bool made)
{
    g_wiz.built = g_wiz.built || made;
}

void enable_wizard_button(int id, bool on)
{
    EnableWindow(GetDlgItem(g_wiz.frame, id), on ? TRUE : FALSE);
}

void set_finish_label(int text_id)
{
    SetDlgItemTextW(g_wiz.frame, IDC_WIZ_FINISH, load_message(text_id).Text());
}

void set_default_button(int id)
{
    int other = id == IDC_WIZ_NEXT ? IDC_WIZ_FINISH : IDC_WIZ_NEXT;
    SendDlgItemMessageW(g_wiz.frame, other, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageW(g_wiz.frame, DM_SETDEFID, id, 0);
    SendDlgItemMessageW(g_wiz.frame, id, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void set_page_heading(const QlStr& text, bool bold)
{
    if (g_wiz.heading == nullptr)
        return;
    HFONT font = bold ? g_wiz.heading_font : frame_font();
    SendMessageW(g_wiz.heading, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SetWindowTextW(g_wiz.heading, text.Text() ? text.Text() : L"");
}

void begin_wizard_page(WizPage page)
{
    int heading = wiz_heading_id(page, g_options.installation_mode);
    set_page_heading(heading ? load_message(heading) : QlStr(), false);
    switch (wiz_finish_on_entry(page, g_options.installation_mode)) {
    case WizFinish::Enable: enable_wizard_button(IDC_WIZ_FINISH, true); break;
    case WizFinish::Disable: enable_wizard_button(IDC_WIZ_FINISH, false); break;
    case WizFinish::Leave: break;
    }
}

bool create_page_controls(HWND frame, int page_area_id, HINSTANCE module, const QlStr& template_name)
{
    HRSRC found = FindResourceW(module, template_name.Text(), MAKEINTRESOURCEW(5));  // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* base = loaded ? LockResource(loaded) : nullptr;
    if (base == nullptr)
        return false;
    HFONT font = frame_font();
    const DLGTEMPLATE* head = static_cast<const DLGTEMPLATE*>(base);
    const WORD* p = reinterpret_cast<const WORD*>(reinterpret_cast<const uint8_t*>(base) + 18);
    p = skip_field(p, nullptr, nullptr);  // menu
    p = skip_field(p, nullptr, nullptr);  // class
    p = skip_field(p, nullptr, nullptr);  // title
    if (head->style & DS_SETFONT) {
        ++p;  // point size
        while (*p)
            ++p;
        ++p;
    }
    p = align_dword(p, base);
    HWND after = GetDlgItem(frame, page_area_id);
    bool focused = false;
    static const wchar_t* const kClasses[] = {L"BUTTON", L"EDIT", L"STATIC", L"LISTBOX", L"SCROLLBAR", L"COMBOBOX"};
    for (int i = 0; i < head->cdit; ++i) {
        const DLGITEMTEMPLATE* item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const uint8_t*>(p) + sizeof(DLGITEMTEMPLATE));
        WORD atom = 0, ordinal = 0;
        const wchar_t* class_name = nullptr;
        const wchar_t* text = nullptr;
        p = skip_field(p, &atom, &class_name);
        p = skip_field(p, &ordinal, &text);
        WORD data_length = *p++;
        const void* data = data_length ? p : nullptr;
        p = align_dword(reinterpret_cast<const WORD*>(reinterpret_cast<const uint8_t*>(p) + data_length), base);
        if (item->id == page_area_id)
            continue;
        if (class_name == nullptr)
            class_name = atom >= 0x80 && atom <= 0x85 ? kClasses[atom - 0x80] : L"STATIC";
        wchar_t number[16];
        if (text == nullptr) {
            wsprintfW(number, L"#%d", ordinal);
            text = number;
        }
        RECT r = {item->x, item->y, item->x + item->cx, item->y + item->cy};
        MapDialogRect(frame, &r);
        DWORD style = item->style;
        DWORD ex_style = item->dwExtendedStyle | WS_EX_NOPARENTNOTIFY;
        // The three-dimensional look a dialog gives bordered controls.
        if (style & WS_BORDER) {
            style &= ~WS_BORDER;
            ex_style |= WS_EX_CLIENTEDGE;
        }
        HWND control = CreateWindowExW(ex_style, class_name, text, style, r.left, r.top, r.right - r.left,
                                       r.bottom - r.top, frame, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item->id)),
                                       module, const_cast<void*>(data));
        if (control == nullptr) {
            FreeResource(loaded);
            return false;
        }
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
        if (!focused && (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) {
            focused = true;
            SetFocus(control);
        }
    }
    FreeResource(loaded);
    return true;
}

bool show_wizard_page(const QlStr& template_name, WizardPage page)
{
    HWND frame = g_wiz.frame;
    if (frame == nullptr) {
        report_assertion(kSource, kLineNoFrame);
        return true;
    }
    HWND area = GetDlgItem(frame, IDC_WIZ_PAGE_AREA);
    ChildList children = {};
    children.parent = frame;
    children.area = area;
    GetWindowRect(area, &children.area_rect);
    EnumChildWindows(frame, collect_page_child, reinterpret_cast<LPARAM>(&children));
    for (int i = 0; i < children.count; ++i)
        DestroyWindow(children.list[i]);
    if (!create_page_controls(frame, IDC_WIZ_PAGE_AREA, GetModuleHandleW(nullptr), template_name)) {
        sink_message_box(0, nullptr, QlStr(L"DLGERR_RESOURCE_PROBLEM"), QlStr(), MB_OK);
        return true;
    }
    RECT r = children.area_rect;
    MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    InvalidateRect(frame, &r, TRUE);
    UpdateWindow(frame);
    g_wiz.page = page;
    g_wiz.page_name = template_name;
    EnableWindow(g_wiz.next, TRUE);
    EnableWindow(g_wiz.back, TRUE);
    SetFocus(g_wiz.next);
    SendMessageW(g_wiz.back, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageW(frame, DM_SETDEFID, IDC_WIZ_NEXT, 0);
    SendMessageW(g_wiz.next, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    page(frame, WM_INITDIALOG, 0, 0);
    if (g_version.new_shell && g_wiz.frame == frame)
        subclass_lines(frame);
    UpdateWindow(frame);
    return true;
}

bool show_wizard_page(WizPage page)
{
    return show_wizard_page(QlStr(wiz_template_name(page), 1), wiz_page_procedure(page, g_options.installation_mode));
}

INT_PTR CALLBACK wizard_frame_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETCURSOR) {
        SetWindowLongPtrW(frame, DWLP_MSGRESULT, update_cursor());
        return TRUE;
    }
    if (message == WM_INITDIALOG && g_version.new_shell) {
        SendMessageW(frame, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconW(GetModuleHandleW(nullptr), L"WINSFX")));
        SetWindowLongPtrW(frame, GWL_EXSTYLE, GetWindowLongPtrW(frame, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        SetWindowLongPtrW(frame, GWL_STYLE, GetWindowLongPtrW(frame, GWL_STYLE) & ~WS_SYSMENU);
        SetWindowPos(frame, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    INT_PTR result = 0;
    for (const FrameMessageEntry& row : kFrameMessages) {
        if (row.message == message && (result = row.handler(frame, wparam, lparam)) != 0)
            break;
    }
    if (message == WM_QUERYDRAGICON)
        return reinterpret_cast<INT_PTR>(g_wiz.icon);
    if (result == 0 && g_wiz.frame && g_wiz.page)
        result = g_wiz.page(frame, message, wparam, lparam);
    if (message == WM_INITDIALOG)
        return 0;
    return result;
}

int run_wizard_frame()
{
    HMODULE controls = LoadLibraryW(L"COMCTL32");
    typedef void(WINAPI * InitFn)();
    InitFn init = controls ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControls")))
                           : nullptr;
    if (init == nullptr) {
        if (controls)
            FreeLibrary(controls);
        return 0;
    }
    init();
    g_wiz.frame = nullptr;
    g_wiz.centred_once = false;
    g_wiz.lines_subclassed = false;
    INT_PTR result = qlDlgDialogBoxParam(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WIZ_FRAME),
                                         get_owner_window(true), wizard_frame_proc, 0);
    release_side_bitmap();
    g_wiz.frame = nullptr;
    g_wiz.page = nullptr;
    g_wiz.bitmap_proc = nullptr;
    set_main_window(nullptr);
    FreeLibrary(controls);
    return static_cast<int>(result);
}

int start_wizard()
{
    static bool version_known = false;
    if (!version_known) {
        version_known = true;
        get_windows_version_flags();
    }
    if (g_wiz.heading_font == nullptr) {
        HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
        int height = -(GetDeviceCaps(display, LOGPIXELSY) * 8 / 72);
        DeleteDC(display);
        g_wiz.heading_font = CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                         DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg");
    }
    g_wiz.first_name = QlStr(wiz_template_name(WizPage::Welcome), 1);
    g_wiz.first_page = wiz_page_procedure(WizPage::Welcome, g_options.installation_mode);
    g_wiz.wizard_mode = true;
    g_wiz.built = false;
    return run_wizard_frame();
}

int run_wizard()
{
    start_wizard();
    return g_wiz.built ? 1 : 0;
}
