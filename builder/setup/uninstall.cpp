// Uninstall and post-install.
#include "builder/setup/uninstall.h"

#include <shlobj.h>

#include "builder/seams.h"
#include "builder/services.h"
#include "builder/setup/QlSplFdr.h"
#include "builder/setup/Win95.h"
#include "builder/setup/delexe.h"
#include "builder/setup/qlopts.h"
#include "builder/setup/qlseopts.h"
#include "builder/sfxoptions.h"
#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "builder/winsfx.h"
#include "common/Dlg.h"
#include "common/QlWin32.h"
#include "common/fileinfo.h"

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
// The cryptographic helper library of the distribution.
const wchar_t kCryptoLibrary[] = L"QLCRYPT32.DLL";

// Deleted only when they carry the builder's own last-write time: a file of
// the same name from another product or version stays.
const wchar_t* const kProgramFiles[] = {
    L"QUOLLASE.CHM", L"QUOLLASE.EXE", L"QLXTRA32.EXE", L"QLSE32.DLL",
    kCryptoLibrary,  L"QLSETUP32.EXE", L"CUSTOM.TXT",
};
// Deleted whatever their date; the last three may be read-only.
const wchar_t* const kDataFiles[] = {
    L"FILE_ID.DIZ", L"LICENSE.TXT", L"ORDER.TXT",   L"VENDOR.TXT",  L"WHATSNEW.TXT",
    L"QUOLLASE.TXT", L"README.TXT", L"quollase.dat", L"quollase.ini",
};
const wchar_t* const kWritableDataFiles[] = {L"quollase.gid", L"quollase.fts", L"QuollaSE.semul"};
// Scheduled for deletion at restart with the folder (in use while the
// builder runs, or left by the setup program); each name is also the marker.
const wchar_t* const kRestartFiles[] = {L"qlse32.dll", L"qlcrypt32.dll", L"setup.exe"};

const wchar_t* const kClassesKeys[] = {L"QuollaSE.RegFile", L".semul"};
const wchar_t* const kAppPathNames[] = {L"quollase.exe", L"qlxtra32.exe"};

QlStr own_path(HMODULE module)
{
    QlStr path;
    get_module_file_name(module, path);
    return path;
}

QlStr uninstall_key()
{
    QlStr key;
    key.Format(L"%s\\Quolla Self-Extractor", kUninstallKey);
    return key;
}

QlStr app_path_key(const QlStr& name)
{
    QlStr key;
    key.Format(L"%s\\%s", kAppPathsKey, name.Text());
    return key;
}

bool key_exists(HKEY root, const QlStr& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.Text(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A program file that would be deleted: it exists with the builder's time.
bool same_time_as_builder(const QlStr& path, QlFileInfo& builder)
{
    QlFileInfo info;
    return qlFileInfoStat(path, info, true) && (info.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           qlDateEqualAtDosPrecision(info.lastWriteTime, builder.lastWriteTime);
}

QlSpecialFolder start_menu_group()
{
    return QlSpecialFolder(start_menu_group_csidl(), load_message(kMsgStartMenuGroup));
}

bool start_menu_shortcut_exists()
{
    QlStr name = load_message(kMsgStartMenuShortcut);
    for (int csidl : {CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU}) {
        QlStr link;
        if (get_special_folder_shortcut_path(link, csidl, name) && qlFileInfoExists(link))
            return true;
    }
    return false;
}

// What an uninstall would remove, apart from the builder's own file, which
// is there while it runs: none of it left means a second uninstall.
bool anything_to_uninstall(const QlStr& own, const QlStr& folder)
{
    QlFileInfo builder;
    bool dated = qlFileInfoStat(own, builder, true);
    for (const wchar_t* name : kProgramFiles) {
        QlStr path = folder + name;
        if (!qlStrEqualNoCase(path, own) && dated && same_time_as_builder(path, builder))
            return true;
    }
    for (const wchar_t* name : kDataFiles)
        if (qlFileInfoExists(folder + name))
            return true;
    for (const wchar_t* name : kWritableDataFiles)
        if (qlFileInfoExists(folder + name))
            return true;
    if (qlFileInfoExists(settings_report_path(own)))
        return true;
    if (start_menu_group().Exists() || start_menu_shortcut_exists())
        return true;
    if (key_exists(HKEY_LOCAL_MACHINE, uninstall_key()) ||
        key_exists(HKEY_CURRENT_USER, QlStr(kBuilderRegistryKey)) ||
        key_exists(HKEY_LOCAL_MACHINE, QlStr(kBuilderRegistryKey)))
        return true;
    for (const wchar_t* name : kAppPathNames)
        if (key_exists(HKEY_LOCAL_MACHINE, app_path_key(QlStr(name))))
            return true;
    for (const wchar_t* name : kClassesKeys)
        if (key_exists(HKEY_CLASSES_ROOT, QlStr(name)))
            return true;
    QlStr zip2exe = get_archiver_zip2exe();
    return zip2exe.HasText() && qlStrEqualNoCase(zip2exe, own);
}

void delete_program_files(const QlStr& own, const QlStr& folder, QlFileInfo& builder)
{
    for (const wchar_t* name : kProgramFiles) {
        QlStr path = folder + name;
        if (same_time_as_builder(path, builder))
            DeleteFileW(path.Text());
    }
    for (const wchar_t* name : kDataFiles)
        DeleteFileW((folder + name).Text());
    for (const wchar_t* name : kWritableDataFiles) {
        QlStr path = folder + name;
        SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.Text());
    }
    // The settings report ("-dump") is written beside the builder.
    DeleteFileW(settings_report_path(own).Text());
}

void remove_start_menu_entries()
{
    bool startedHere = false;
    if (!qlComStarted()) {
        startedHere = SUCCEEDED(CoInitialize(nullptr));
        if (!startedHere)
            return;
    }
    delete_start_menu_shortcut();
    start_menu_group().Remove();
    wait_for_folder_window_close(load_message(kMsgStartMenuGroup), load_message(kMsgFolderWindowClass));
    if (startedHere)
        CoUninitialize();
}

void delete_registry_entries()
{
    delete_key_tree(HKEY_LOCAL_MACHINE, uninstall_key());
    for (const wchar_t* name : kAppPathNames)
        delete_key_tree(HKEY_LOCAL_MACHINE, app_path_key(QlStr(name)));
}

void delete_settings()
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        delete_key_tree(root, QlStr(kBuilderRegistryKey));
        delete_key_if_empty(root, QlStr(kMakerRegistryKey));
    }
    for (const wchar_t* name : kClassesKeys)
        delete_key_tree(HKEY_CLASSES_ROOT, QlStr(name));
}

int box(int id, const QlStr& text, const QlStr& caption, UINT flags, HWND owner = nullptr)
{
    return sink_message_box(id, owner, text, caption, flags);
}

QlStr short_upper_folder(const QlStr& folder)
{
    wchar_t buffer[2048];
    DWORD n = GetShortPathNameW(folder.Text(), buffer, 2048);
    QlStr out = n > 0 && n < 2048 ? QlStr(buffer, int(n)) : folder;
    out.MakeUpper();
    return out;
}

// The post-install dialog: run now (1) or done (3).
class SetupCompleteDialog : public CDlg {
public:
    explicit SetupCompleteDialog(int template_id) : CDlg(template_id, GetActiveWindow()) {}

    BOOL OnInitDialog() override
    {
        center_window_over(Window(), sink_main_window(), nullptr, nullptr, true);
        return TRUE;
    }
    void OnOK() override { EndDialog(Window(), 1); }
    void OnCancel() override { EndDialog(Window(), 3); }
    bool OnCommandId(int id) override
    {
        if (id != kIdcSetupRunNow)
            return false;
        EndDialog(Window(), 1);
        return true;
    }
};

}  // namespace

int show_setup_dialog(int template_id)
{
    SetupCompleteDialog dialog(template_id);
    // A dialog that could not be shown (its report was made) counts as done.
    return dialog.DoModal() == 1 ? 1 : 3;
}

int start_menu_group_csidl()
{
    return g_os.win2000_or_later ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
}

int uninstall_builder(HMODULE builder, const QlStr& caption)
{
    const QlStr own = own_path(builder);
    const QlStr folder = folder_of(own);
    if (!anything_to_uninstall(own, folder)) {
        box(kMsgNothingToUninstall, load_message(kMsgNothingToUninstall), caption,
            MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    if (box(kMsgUninstallSure, load_message(kMsgUninstallSure), caption,
            MB_YESNO | MB_DEFBUTTON2 | MB_ICONINFORMATION) != IDYES)
        return 1;
    if (raise_other_instance()) {
        box(kMsgBuilderRunsUninstall, load_message(kMsgBuilderRunsUninstall), caption, MB_OK);
        return 0;
    }
    QlStr zip2exe = get_archiver_zip2exe();
    const bool namesUs = zip2exe.HasText() && qlStrEqualNoCase(zip2exe, own);
    if (namesUs) {
        HWND archiver = FindWindowW(L"QuollaWClass", nullptr);
        if (archiver) {
            HWND popup = GetLastActivePopup(archiver);
            BringWindowToTop(archiver);
            BringWindowToTop(popup);
            SetForegroundWindow(popup);
            box(kMsgArchiverRunsUninstall, load_message(kMsgArchiverRunsUninstall), caption,
                MB_OK | MB_SYSTEMMODAL | MB_ICONERROR, popup);
            return 0;
        }
    }
    WinHelpW(nullptr, (folder + QL("quollase.chm")).Text(), HELP_QUIT, 0);
    if (box(kMsgUninstallLast, load_message(kMsgUninstallLast), caption,
            MB_YESNO | MB_DEFBUTTON2 | MB_ICONERROR) != IDYES)
        return 0;
    if (namesUs)
        set_archiver_zip2exe(QlStr::CtorNull());
    QlFileInfo info;
    if (!qlFileInfoStat(own, info, true)) {
        box(kMsgUninstallInUse, format_message(kMsgUninstallInUse, own.Text()), caption,
            MB_OK | MB_SYSTEMMODAL | MB_ICONERROR);
        return 0;
    }
    // From here on nothing is rolled back: what cannot go now goes at the
    // next start of Windows.
    delete_program_files(own, folder, info);
    remove_start_menu_entries();
    delete_registry_entries();
    QlStr ownName = own.MidFrom(folder.Length());
    ownName.MakeLower();
    schedule_delete_at_restart(own, true, ownName);
    for (const wchar_t* name : kRestartFiles)
        schedule_delete_at_restart(folder + name, true, QlStr(name));
    delete_settings();
    QlStr shown = folder + QL("QLXTRA32.EXE");
    box(kMsgUninstallComplete, format_message(kMsgUninstallComplete, shown.Text()), caption, MB_OK);
    return 1;
}

bool write_app_path(const QlStr& folder, const QlStr& name)
{
    QlStr value;
    value.Format(L"%s%s", folder.Text(), name.Text());
    return qlWin32RegSetValue(HKEY_LOCAL_MACHINE, app_path_key(name), value) == ERROR_SUCCESS;
}

int complete_setup(int dialog_template)
{
    const QlStr own = own_path(nullptr);
    const QlStr folder = folder_of(own);
    const QlStr shortFolder = short_upper_folder(folder);
    write_app_path(folder, QlStr(L"QUOLLASE.EXE"));
    write_app_path(folder, QlStr(L"QLXTRA32.EXE"));
    // The uninstall scheduled the files under the folder's name as the
    // builder knew it, which is the long name on the NT family and the short
    // one on Windows 9x: both are cancelled, or the new installation would
    // go at the next restart.
    QlStr ownName = own.MidFrom(folder.Length());
    QlStr bases[2] = {shortFolder, folder};
    int count = qlStrEqualNoCase(shortFolder, folder) ? 1 : 2;
    for (int i = 0; i < count; ++i) {
        cancel_delete_at_restart(bases[i] + QL("qlxtra32.exe"));
        if (!ownName.EqualsNoCase(L"qlxtra32.exe"))
            cancel_delete_at_restart(bases[i] + ownName);
        for (const wchar_t* name : kRestartFiles)
            cancel_delete_at_restart(bases[i] + name);
    }
    record_builder_version();
    return show_setup_dialog(dialog_template);
}
