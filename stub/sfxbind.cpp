// The stub's binder (see sfxbind.h): one table per DLL, each function a slot
// under the name the compiler's dllimport calls use ("__imp__Name@bytes"),
// so that the code needs no change and the linker takes no import library
// member for it. The import check after every link (tools/check-imports.sh)
// refuses a stub that still imports one of these DLLs at load time: a
// function missing here shows there.
//
// Each entry is in sections of its own, and these sections refer to one
// another only from the slot onwards: the linker's garbage collection keeps an
// entry only when the code calls its function. So a table may list functions
// that only some stubs call; the narrow-character module adds its "A" forms
// to the same lists.
#include "stub/sfxbind.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "stub/sfxstub.h"

// F(library, name, bytes): the function `name` of `library` looked up by
// name; `bytes` is the size of its arguments, the "@bytes" of its import name
// (checked against its declaration below). O(library, name, bytes, ordinal):
// looked up by ordinal.
// QL_BIND_WIDE(F, ...): a wide function that the narrow build's sfxansi.cpp
// supplies itself, with the "A" function listed here behind it; that build
// leaves it out of the table.
#if QL_SFX_NARROW
#define QL_BIND_WIDE(F, library, name, bytes)
#else
#define QL_BIND_WIDE(F, library, name, bytes) F(library, name, bytes)
#endif

#define QL_BIND_USER32(F, O)                          \
    F(user32, BeginPaint, 8)                          \
    F(user32, CheckDlgButton, 12)                     \
    F(user32, DefWindowProcA, 16)                     \
    QL_BIND_WIDE(F, user32, DefWindowProcW, 16)       \
    F(user32, DialogBoxParamA, 20)                    \
    QL_BIND_WIDE(F, user32, DialogBoxParamW, 20)      \
    F(user32, DispatchMessageA, 4)                    \
    QL_BIND_WIDE(F, user32, DispatchMessageW, 4)      \
    F(user32, EnableWindow, 8)                        \
    F(user32, EndDialog, 8)                           \
    F(user32, EndPaint, 8)                            \
    F(user32, GetClientRect, 8)                       \
    F(user32, GetDlgItem, 8)                          \
    F(user32, GetKeyState, 4)                         \
    F(user32, GetLastActivePopup, 4)                  \
    F(user32, GetParent, 4)                           \
    F(user32, GetSysColor, 4)                         \
    F(user32, GetSystemMetrics, 4)                    \
    F(user32, GetWindowLongA, 8)                      \
    QL_BIND_WIDE(F, user32, GetWindowLongW, 8)        \
    F(user32, GetWindowRect, 8)                       \
    F(user32, GetWindowTextA, 12)                     \
    F(user32, GetWindowTextLengthA, 4)                \
    QL_BIND_WIDE(F, user32, GetWindowTextLengthW, 4)  \
    QL_BIND_WIDE(F, user32, GetWindowTextW, 12)       \
    F(user32, GetWindowWord, 8)                       \
    F(user32, InvalidateRect, 12)                     \
    F(user32, IsDialogMessageA, 8)                    \
    QL_BIND_WIDE(F, user32, IsDialogMessageW, 8)      \
    F(user32, IsDlgButtonChecked, 8)                  \
    F(user32, IsWindowVisible, 4)                     \
    F(user32, KillTimer, 8)                           \
    F(user32, LoadCursorA, 8)                         \
    QL_BIND_WIDE(F, user32, LoadCursorW, 8)           \
    F(user32, LoadIconA, 8)                           \
    QL_BIND_WIDE(F, user32, LoadIconW, 8)             \
    F(user32, LoadStringA, 16)                        \
    QL_BIND_WIDE(F, user32, LoadStringW, 16)          \
    F(user32, MessageBoxA, 16)                        \
    QL_BIND_WIDE(F, user32, MessageBoxW, 16)          \
    F(user32, MsgWaitForMultipleObjects, 20)          \
    F(user32, PeekMessageA, 20)                       \
    QL_BIND_WIDE(F, user32, PeekMessageW, 20)         \
    F(user32, PostMessageA, 16)                       \
    QL_BIND_WIDE(F, user32, PostMessageW, 16)         \
    F(user32, PostQuitMessage, 4)                     \
    F(user32, RegisterClassA, 4)                      \
    QL_BIND_WIDE(F, user32, RegisterClassW, 4)        \
    QL_BIND_WIDE(F, user32, SendDlgItemMessageW, 20)  \
    F(user32, SendMessageA, 16)                       \
    QL_BIND_WIDE(F, user32, SendMessageW, 16)         \
    F(user32, SetActiveWindow, 4)                     \
    F(user32, SetCursor, 4)                           \
    F(user32, SetDlgItemTextA, 12)                    \
    QL_BIND_WIDE(F, user32, SetDlgItemTextW, 12)      \
    F(user32, SetForegroundWindow, 4)                 \
    F(user32, SetTimer, 16)                           \
    F(user32, SetWindowLongA, 12)                     \
    QL_BIND_WIDE(F, user32, SetWindowLongW, 12)       \
    F(user32, SetWindowPos, 28)                       \
    F(user32, SetWindowTextA, 8)                      \
    QL_BIND_WIDE(F, user32, SetWindowTextW, 8)        \
    F(user32, SetWindowWord, 12)                      \
    F(user32, ShowWindow, 8)                          \
    F(user32, TranslateMessage, 4)                    \
    F(user32, UpdateWindow, 4)                        \
    F(user32, WaitMessage, 0)

#define QL_BIND_SHELL32(F, O)                         \
    F(shell32, FindExecutableW, 12)                   \
    F(shell32, SHBrowseForFolderW, 4)                 \
    F(shell32, SHGetMalloc, 4)                        \
    F(shell32, SHGetPathFromIDListA, 8)               \
    QL_BIND_WIDE(F, shell32, SHGetPathFromIDListW, 8) \
    F(shell32, SHGetSpecialFolderLocation, 12)        \
    F(shell32, ShellExecuteExA, 4)                    \
    QL_BIND_WIDE(F, shell32, ShellExecuteExW, 4)      \
    F(shell32, ShellExecuteW, 24)

// InitCommonControls is taken by its ordinal, as the common controls have
// always exported it.
#define QL_BIND_COMCTL32(F, O)                        \
    O(comctl32, InitCommonControls, 0, 17)

#define QL_BIND_SHLWAPI(F, O)                         \
    F(shlwapi, PathFileExistsA, 4)                    \
    QL_BIND_WIDE(F, shlwapi, PathFileExistsW, 4)      \
    QL_BIND_WIDE(F, shlwapi, PathFindFileNameW, 4)

// --- the tables' records, as the thunks below see them

struct QlBindLibrary {
    const char* name;
    int number;       // SfxBindDll
    HMODULE handle;   // null until loaded
};

struct QlBindEntry {
    void** slot;
    QlBindLibrary* library;
    const char* name;  // or the ordinal, below 0x10000
};

extern "C" {
QlBindLibrary ql_bind_user32 = {"USER32.dll", kSfxBindUser32, nullptr};
QlBindLibrary ql_bind_shell32 = {"SHELL32.dll", kSfxBindShell32, nullptr};
QlBindLibrary ql_bind_comctl32 = {"COMCTL32.dll", kSfxBindComctl32, nullptr};
QlBindLibrary ql_bind_shlwapi = {"SHLWAPI.dll", kSfxBindShlwapi, nullptr};
}

namespace {

const char kBindSource[] = "sfxbind.c";

// The size of a stdcall function's arguments, as its import name has it.
template <class F>
struct QlArgumentBytes;
template <class R, class... A>
struct QlArgumentBytes<R __stdcall(A...)> {
    static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) & ~size_t(3)));
};

#define QL_BIND_CHECK(library, name, bytes)                          \
    static_assert(QlArgumentBytes<decltype(::name)>::value == bytes, \
                  #name ": the argument bytes differ from its declaration");
#define QL_BIND_CHECK_ORDINAL(library, name, bytes, ordinal) QL_BIND_CHECK(library, name, bytes)
QL_BIND_USER32(QL_BIND_CHECK, QL_BIND_CHECK_ORDINAL)
QL_BIND_SHELL32(QL_BIND_CHECK, QL_BIND_CHECK_ORDINAL)
QL_BIND_COMCTL32(QL_BIND_CHECK, QL_BIND_CHECK_ORDINAL)
QL_BIND_SHLWAPI(QL_BIND_CHECK, QL_BIND_CHECK_ORDINAL)

bool load(QlBindLibrary* library)
{
    if (library->handle == nullptr)
        library->handle = LoadLibraryA(library->name);
    return library->handle != nullptr;
}

}  // namespace

bool sfx_bind_available(SfxBindDll dll)
{
    switch (dll) {
    case kSfxBindUser32: return load(&ql_bind_user32);
    case kSfxBindShell32: return load(&ql_bind_shell32);
    case kSfxBindComctl32: return load(&ql_bind_comctl32);
    case kSfxBindShlwapi: return load(&ql_bind_shlwapi);
    }
    return false;
}

// Called by the first-call thunk with the entry of the function called: its
// address, also stored in the slot for every later call.
// The thread's last-error value is the caller's: binding must not change
// what a GetLastError after the call reports.
extern "C" void* ql_bind_resolve(const QlBindEntry* entry)
{
    const DWORD last_error = GetLastError();
    QlBindLibrary* library = entry->library;
    if (!load(library))
        internal_error(kBindSource, kSfxBindLineLoad + library->number);
    FARPROC target = GetProcAddress(library->handle, entry->name);
    if (target == nullptr)
        internal_error(kBindSource, kSfxBindLineLookup + library->number);
    *entry->slot = reinterpret_cast<void*>(target);
    SetLastError(last_error);
    return *entry->slot;
}

// The first call of any bound function: the thunk has pushed the function's
// entry above the caller's return address. The target found replaces the
// entry on the stack, so that `ret` enters it with the stack exactly as the
// caller left it; the scratch registers are kept for it too.
asm(".text\n"
    ".balign 16\n"
    "_ql_bind_first_call:\n"
    "\tpushl %eax\n"
    "\tpushl %ecx\n"
    "\tpushl %edx\n"
    "\tpushl 12(%esp)\n"
    "\tcall _ql_bind_resolve\n"
    "\taddl $4, %esp\n"
    "\tmovl %eax, 12(%esp)\n"
    "\tpopl %edx\n"
    "\tpopl %ecx\n"
    "\tpopl %eax\n"
    "\tret\n");

// One function: its slot (first the thunk's address), the thunk, its entry
// and name, and a direct entry point for callers that do not go through the
// slot. `lookup` is the entry's name field: the name's label, or the ordinal.
#define QL_BIND_ENTRY(library, name, bytes, lookup, name_text)                 \
    asm(".section .data$qlbind_" #name ",\"w\"\n"                              \
        ".balign 4\n"                                                          \
        ".globl __imp__" #name "@" #bytes "\n"                                 \
        "__imp__" #name "@" #bytes ":\n"                                       \
        "\t.long qlbind_thunk_" #name "\n"                                     \
        ".section .text$qlbind_" #name ",\"x\"\n"                              \
        "qlbind_thunk_" #name ":\n"                                            \
        "\tpushl $qlbind_entry_" #name "\n"                                    \
        "\tjmp _ql_bind_first_call\n"                                          \
        ".section .rdata$qlbind_" #name ",\"dr\"\n"                            \
        ".balign 4\n"                                                          \
        "qlbind_entry_" #name ":\n"                                            \
        "\t.long __imp__" #name "@" #bytes ", _ql_bind_" #library ", " lookup "\n" \
        name_text                                                              \
        ".section .text$qlbind_direct_" #name ",\"x\"\n"                       \
        ".globl _" #name "@" #bytes "\n"                                       \
        "_" #name "@" #bytes ":\n"                                             \
        "\tjmp *__imp__" #name "@" #bytes "\n"                                 \
        ".text\n");

#define QL_BIND_BY_NAME(library, name, bytes)                 \
    QL_BIND_ENTRY(library, name, bytes, "qlbind_name_" #name, \
                  "qlbind_name_" #name ":\n\t.asciz \"" #name "\"\n")
#define QL_BIND_BY_ORDINAL(library, name, bytes, ordinal) \
    QL_BIND_ENTRY(library, name, bytes, #ordinal, "")

QL_BIND_USER32(QL_BIND_BY_NAME, QL_BIND_BY_ORDINAL)
QL_BIND_SHELL32(QL_BIND_BY_NAME, QL_BIND_BY_ORDINAL)
QL_BIND_COMCTL32(QL_BIND_BY_NAME, QL_BIND_BY_ORDINAL)
QL_BIND_SHLWAPI(QL_BIND_BY_NAME, QL_BIND_BY_ORDINAL)
