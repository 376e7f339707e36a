// A mail client's Simple MAPI library for the wizard's tests (not shipped):
// MAPISendMail writes what it received to the file named by QL_MAPI_LOG,
// one "name=value" line each (the ANSI texts as they came), and reports success.
#include <windows.h>
#include <mapi.h>

#include <cstdio>

namespace {

void text(FILE* f, const char* name, const char* value)
{
    fprintf(f, "%s=%s\n", name, value ? value : "(null)");
}

}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR ui_parent, lpMapiMessage message, FLAGS flags,
                                     ULONG reserved)
{
    char path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA("QL_MAPI_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return MAPI_E_FAILURE;
    FILE* f = fopen(path, "ab");
    if (f == nullptr)
        return MAPI_E_FAILURE;
    fprintf(f, "session=%lu\nui_parent=%s\nflags=0x%lx\nreserved=%lu\n", static_cast<unsigned long>(session),
            ui_parent != 0 && IsWindow(reinterpret_cast<HWND>(ui_parent)) ? "window" : "none",
            static_cast<unsigned long>(flags), static_cast<unsigned long>(reserved));
    if (message) {
        fprintf(f, "message_reserved=%lu\n", static_cast<unsigned long>(message->ulReserved));
        text(f, "subject", message->lpszSubject);
        text(f, "note", message->lpszNoteText);
        text(f, "type", message->lpszMessageType);
        text(f, "date", message->lpszDateReceived);
        text(f, "conversation", message->lpszConversationID);
        fprintf(f, "message_flags=0x%lx\noriginator=%s\nrecipients=%lu\nfiles=%lu\n",
                static_cast<unsigned long>(message->flFlags), message->lpOriginator ? "set" : "none",
                static_cast<unsigned long>(message->nRecipCount), static_cast<unsigned long>(message->nFileCount));
        for (ULONG i = 0; i < message->nFileCount && message->lpFiles; ++i) {
            const MapiFileDesc& file = message->lpFiles[i];
            fprintf(f, "file_reserved=%lu\nfile_flags=0x%lx\nfile_position=%lu\n",
                    static_cast<unsigned long>(file.ulReserved), static_cast<unsigned long>(file.flFlags),
                    static_cast<unsigned long>(file.nPosition));
            text(f, "file_path", file.lpszPathName);
            text(f, "file_name", file.lpszFileName);
            fprintf(f, "file_type=%s\n", file.lpFileType ? "set" : "(null)");
        }
    }
    fprintf(f, "end\n");
    fclose(f);
    return SUCCESS_SUCCESS;
}
