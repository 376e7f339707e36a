// Mailing the result through Simple MAPI.
#include "builder/ui/mail.h"

#include <mapi.h>

#include <string>

#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "common/QlWin32.h"

namespace {

const int kClientNameLimit = 300;
const int kKeyPathLimit = 299;
const int kPathLimit = 520;

HMODULE g_mapiLibrary = nullptr;
LPMAPISENDMAIL g_mapiSendMail = nullptr;

const QlChar kMailClients[] = QL("SOFTWARE\\Clients\\Mail");

// A REG_SZ or REG_EXPAND_SZ value (expanded), false when missing or longer
// than the limit.
bool read_text_value(const QlStr& key, const QlStr& name, int limit, QlStr& text)
{
    QlRegValue value(key, name, HKEY_LOCAL_MACHINE, kRegBitSz | kRegBitExpandSz);
    if (!value.IsFound() || !value.GetText(text))
        return false;
    return text.Length() <= limit;
}

bool has_folder_or_drive(const QlStr& path)
{
    return path.ContainsChar(QL('\\')) || path.ContainsChar(QL('/')) || path.ContainsChar(QL(':'));
}

// ANSI text in the current code page, as Simple MAPI takes it.
std::string ansi(const QlStr& text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text.Text(), text.Length(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.Text(), text.Length(), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

bool find_mapi_dll(QlStr& path)
{
    path.Clear();
    QlStr client;
    if (!read_text_value(QlStr(kMailClients), QlStr(), kClientNameLimit, client) || !client.HasText())
        return false;
    QlStr key = QlStr(kMailClients) + QL("\\") + client;
    if (key.Length() > kKeyPathLimit)
        return false;
    QlStr name;
    QlRegValue dll(key, QlStr(QL("DLLPath")), HKEY_LOCAL_MACHINE, kRegBitSz | kRegBitExpandSz);
    if (dll.IsFound()) {
        if (!dll.GetText(name) || name.Length() > kPathLimit || !name.HasText() || !name.IsValidPath())
            return false;
        if (has_folder_or_drive(name)) {
            path = name;
            return GetFileAttributesW(name.Text()) != INVALID_FILE_ATTRIBUTES;
        }
    } else {
        wchar_t text[kPathLimit + 1];
        GetProfileStringW(L"Mail", L"CMCDLLName32", L"MAPI32.DLL", text, kPathLimit + 1);
        name = QlStr(text);
    }
    QlStr system;
    if (qlWin32GetSystemDir(system) == 0 || system.Length() + name.Length() + 1 > kPathLimit)
        return false;
    QlStr candidate = system + QL("\\") + name;
    if (GetFileAttributesW(candidate.Text()) != INVALID_FILE_ATTRIBUTES) {
        path = candidate;
        return true;
    }
    // A 16-bit client's library lies in the folder above "SYSTEM32".
    if (system.Length() < 2 || !system.MidFrom(system.Length() - 2).EqualsNoCaseAnsi("32"))
        return false;
    candidate = system.Left(system.Length() - 2) + QL("\\") + name;
    if (GetFileAttributesW(candidate.Text()) == INVALID_FILE_ATTRIBUTES)
        return false;
    path = candidate;
    return true;
}

bool find_mapi_send_mail()
{
    if (g_options.spanning)
        return false;
    if (g_mapiSendMail != nullptr)
        return true;
    QlStr path;
    if (!find_mapi_dll(path))
        return false;
    g_mapiLibrary = qlWin32LoadLibrary(path);
    if (g_mapiLibrary == nullptr)
        return false;
    g_mapiSendMail = reinterpret_cast<LPMAPISENDMAIL>(
        reinterpret_cast<void*>(GetProcAddress(g_mapiLibrary, "MAPISendMail")));
    return true;
}

void send_mail(HWND)
{
    if (g_mapiSendMail == nullptr && g_mapiLibrary == nullptr)
        find_mapi_send_mail();
    if (g_mapiSendMail == nullptr || !g_options.output_name.HasText())
        return;
    const QlStr& output = g_options.output_name;
    std::string full = ansi(output);
    std::string name = ansi(output.PathFileName());
    char note[] = " ";
    MapiFileDesc file = {};
    file.nPosition = 0;
    file.lpszPathName = &full[0];
    file.lpszFileName = &name[0];
    MapiMessage message = {};
    message.lpszSubject = &name[0];
    message.lpszNoteText = note;
    message.nFileCount = 1;
    message.lpFiles = &file;
    g_mapiSendMail(0, reinterpret_cast<ULONG_PTR>(sink_main_window()), &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
}

void release_mapi()
{
    if (g_mapiLibrary != nullptr)
        FreeLibrary(g_mapiLibrary);
    g_mapiLibrary = nullptr;
    g_mapiSendMail = nullptr;
}
