// A folder below a shell special folder, and shortcuts in it.
#include "builder/setup/QlSplFdr.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "builder/seams.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/fileinfo.h"

namespace {

const char kSource[] = "QlSplFdr";
const int kPathLimit = 260;

bool g_comStarted = false;

// The shell's own limits: longer arguments and descriptions arrived with
// Windows 2000.
int text_limit()
{
    return g_os.win2000_or_later ? 1023 : 260;
}

bool fits(const QlStr& text, int limit, int line)
{
    return qlCheck(text.Length() <= limit, kSource, line);
}

// Releases what the shortcut asked for on every way out.
template <class T>
struct Released {
    T* p = nullptr;
    ~Released()
    {
        if (p)
            p->Release();
    }
};

}  // namespace

void qlSetComStarted(bool started)
{
    g_comStarted = started;
}

bool qlComStarted()
{
    return g_comStarted;
}

QlSpecialFolder::QlSpecialFolder(int csidl, const QlStr& sub_path) : csidl_(csidl)
{
    if (!qlCheck(csidl != 0, kSource, kSplFdrNoCsidl) ||
        !qlCheck(sub_path.IsNotNull(), kSource, kSplFdrNoSubPath))
        return;
    QlStr folder;
    // Without the special folder there is no path at all: an empty one
    // would put the sub-path at the root of the current drive.
    if (!qlMiscGetSpecialFolderPath(folder, csidl) || !folder.HasText())
        return;
    folder.AddTrailingSlash();
    folder += sub_path;
    if (folder.HasText() && folder.LastChar() == QL('\\'))
        folder.DropLast();
    path_ = folder;
}

bool QlSpecialFolder::Exists() const
{
    return path_.HasText() && qlFileInfoExists(path_);
}

bool QlSpecialFolder::Create()
{
    if (!path_.HasText() || Exists())
        return false;
    return CreateDirectoryW(path_.Text(), nullptr) != 0;
}

bool QlSpecialFolder::Remove()
{
    if (!Exists())
        return false;
    bool emptied = delete_folder_contents(path_);
    // RemoveDirectory's own result; -1 when the folder could not be left.
    return remove_folder(path_) > 0 && emptied;
}

QlStr QlSpecialFolder::ShortcutPath(const QlStr& name) const
{
    if (!name.HasText() || !path_.HasText())
        return QlStr();
    return path_ + QL("\\") + name + QL(".lnk");
}

bool QlSpecialFolder::ShortcutExists(const QlStr& name) const
{
    QlStr file = ShortcutPath(name);
    return file.HasText() && qlFileInfoExists(file);
}

bool QlSpecialFolder::DeleteShortcut(const QlStr& name)
{
    QlStr file = ShortcutPath(name);
    if (!file.HasText() || !qlFileInfoExists(file))
        return false;
    SetFileAttributesW(file.Text(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(file.Text()) != 0;
}

bool QlSpecialFolder::RecreateShortcut(const QlShortcut& shortcut)
{
    if (!qlCheck((shortcut.flags & QlShortcut::kDescription) != 0, kSource,
                 kSplFdrRecreateNoDescription))
        return false;
    DeleteShortcut(shortcut.description);
    return CreateShortcut(shortcut);
}

bool QlSpecialFolder::CreateShortcut(const QlShortcut& s)
{
    if (!g_comStarted)
        return false;
    if (!qlCheck((s.flags & QlShortcut::kDescription) != 0, kSource, kSplFdrNoDescription))
        return false;
    QlStr file = ShortcutPath(s.description);
    if (!file.HasText())
        return false;
    Released<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link.p))))
        return false;
    QlStr target = s.target;
    target.Unquote();
    if (!qlCheck(target.HasText(), kSource, kSplFdrNoTarget) ||
        !fits(target, kPathLimit, kSplFdrTargetLong) || FAILED(link.p->SetPath(target.Text())))
        return false;
    const int limit = text_limit();
    if ((s.flags & QlShortcut::kArguments) && s.arguments.HasText() &&
        (!fits(s.arguments, limit, kSplFdrArgumentsLong) ||
         FAILED(link.p->SetArguments(s.arguments.Text()))))
        return false;
    if ((s.flags & QlShortcut::kDescription) && s.description.HasText() &&
        (!fits(s.description, limit, kSplFdrDescriptionLong) ||
         FAILED(link.p->SetDescription(s.description.Text()))))
        return false;
    if ((s.flags & QlShortcut::kIcon) && s.icon_file.HasText()) {
        QlStr icon = s.icon_file;
        icon.Unquote();
        if (!fits(icon, kPathLimit, kSplFdrIconLong) ||
            !qlCheck(s.icon_index >= 0, kSource, kSplFdrIconIndex) ||
            FAILED(link.p->SetIconLocation(icon.Text(), s.icon_index)))
            return false;
    }
    if ((s.flags & QlShortcut::kWorkingFolder) && s.working_folder.HasText() &&
        (!fits(s.working_folder, kPathLimit, kSplFdrFolderLong) ||
         FAILED(link.p->SetWorkingDirectory(s.working_folder.Text()))))
        return false;
    if (s.flags & QlShortcut::kShowCommand) {
        if (!qlCheck(s.show_command >= 1 && s.show_command <= 3, kSource, kSplFdrShowCommand) ||
            FAILED(link.p->SetShowCmd(s.show_command)))
            return false;
    }
    if ((s.flags & QlShortcut::kHotKey) && FAILED(link.p->SetHotkey(s.hot_key)))
        return false;
    Released<IPersistFile> persist;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist.p))))
        return false;
    return SUCCEEDED(persist.p->Save(file.Text(), TRUE));
}

bool QlSpecialFolder::Open() const
{
    if (!path_.HasText())
        return false;
    HINSTANCE result = ShellExecuteW(nullptr, L"open", path_.Text(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}
