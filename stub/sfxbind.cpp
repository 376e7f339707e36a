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

// F(name, bytes): the function `name` looked up by name; `bytes` is the size
// of its arguments, the "@bytes" of its import name (checked against its
// declaration below). O(name, bytes, ordinal): looked up by ordinal.
#define QL_BIND_USER32(F, O)          \
    F(BeginPaint, 8)                  \
    F(CheckDlgButton, 12)             \
    F(DefWindowProcW, 16)             \
    F(DialogBoxParamW, 20)            \
    F(DispatchMessageW, 4)            \
    F(EnableWindow, 8)                \
    F(EndDialog, 8)                   \
    F(EndPaint, 8)                    \
    F(GetClientRect, 8)               \
    F(GetDlgItem, 8)                  \
    F(GetKeyState, 4)                 \
    F(GetLastActivePopup, 4)          \
    F(GetParent, 4)                   \
    F(GetSysColor, 4)                 \
    F(GetSystemMetrics, 4)            \
    F(GetWindowLongW, 8)              \
    F(GetWindowRect, 8)               \
    F(GetWindowTextLengthW, 4)        \
    F(GetWindowTextW, 12)             \
    F(GetWindowWord, 8)               \
    F(InvalidateRect, 12)             \
    F(IsDialogMessageW, 8)            \
    F(IsDlgButtonChecked, 8)          \
    F(IsWindowVisible, 4)             \
    F(KillTimer, 8)                   \
    F(LoadCursorW, 8)                 \
    F(LoadIconW, 8)                   \
    F(LoadStringW, 16)                \
    F(MessageBoxA, 16)                \
    F(MessageBoxW, 16)                \
    F(MsgWaitForMultipleObjects, 20)  \
    F(PeekMessageW, 20)               \
    F(PostMessageW, 16)               \
    F(PostQuitMessage, 4)             \
    F(RegisterClassW, 4)              \
    F(SendDlgItemMessageW, 20)        \
    F(SendMessageW, 16)               \
    F(SetActiveWindow, 4)             \
    F(SetCursor, 4)                   \
    F(SetDlgItemTextW, 12)            \
    F(SetForegroundWindow, 4)         \
    F(SetTimer, 16)                   \
    F(SetWindowLongW, 12)             \
    F(SetWindowPos, 28)               \
    F(SetWindowTextW, 8)              \
    F(SetWindowWord, 12)              \
    F(ShowWindow, 8)                  \
    F(TranslateMessage, 4)            \
    F(UpdateWindow, 4)                \
    F(WaitMessage, 0)

#define QL_BIND_SHELL32(F, O)         \
    F(FindExecutableW, 12)            \
    F(SHBrowseForFolderW, 4)          \
    F(SHGetMalloc, 4)                 \
    F(SHGetPathFromIDListW, 8)        \
    F(SHGetSpecialFolderLocation, 12) \
    F(ShellExecuteExW, 4)             \
    F(ShellExecuteW, 24)

// InitCommonControls is taken by its ordinal, as the common controls have
// always exported it.
#define QL_BIND_COMCTL32(F, O)        \
    O(InitCommonControls, 0, 17)

#define QL_BIND_SHLWAPI(F, O)         \
    F(PathFileExistsW, 4)             \
    F(PathFindFileNameW, 4)

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

#define QL_BIND_CHECK(name, bytes)                                    \
    static_assert(QlArgumentBytes<decltype(::name)>::value == bytes, \
                  #name ": the argument bytes differ from its declaration");
#define QL_BIND_CHECK_ORDINAL(name, bytes, ordinal) QL_BIND_CHECK(name, bytes)
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

#define QL_BIND_USER32_NAME(name, bytes) QL_BIND_BY_NAME(user32, name, bytes)
#define QL_BIND_USER32_ORDINAL(name, bytes, ordinal) \
    QL_BIND_BY_ORDINAL(user32, name, bytes, ordinal)
#define QL_BIND_SHELL32_NAME(name, bytes) QL_BIND_BY_NAME(shell32, name, bytes)
#define QL_BIND_SHELL32_ORDINAL(name, bytes, ordinal) \
    QL_BIND_BY_ORDINAL(shell32, name, bytes, ordinal)
#define QL_BIND_COMCTL32_NAME(name, bytes) QL_BIND_BY_NAME(comctl32, name, bytes)
#define QL_BIND_COMCTL32_ORDINAL(name, bytes, ordinal) \
    QL_BIND_BY_ORDINAL(comctl32, name, bytes, ordinal)
#define QL_BIND_SHLWAPI_NAME(name, bytes) QL_BIND_BY_NAME(shlwapi, name, bytes)
#define QL_BIND_SHLWAPI_ORDINAL(name, bytes, ordinal) \
    QL_BIND_BY_ORDINAL(shlwapi, name, bytes, ordinal)

QL_BIND_USER32(QL_BIND_USER32_NAME, QL_BIND_USER32_ORDINAL)
QL_BIND_SHELL32(QL_BIND_SHELL32_NAME, QL_BIND_SHELL32_ORDINAL)
QL_BIND_COMCTL32(QL_BIND_COMCTL32_NAME, QL_BIND_COMCTL32_ORDINAL)
QL_BIND_SHLWAPI(QL_BIND_SHLWAPI_NAME, QL_BIND_SHLWAPI_ORDINAL)
