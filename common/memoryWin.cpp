// The Win32 side of the memory helpers: the out-of-memory handler.
#include "common/memory.h"

#include <new>
#include <windows.h>

namespace {

HWND g_mainWindow = nullptr;

// msvcrt exports its new-handler and new-mode setters only under their C++
// names, so they are looked up at run time.
typedef int(__cdecl* MsvcrtNewHandler)(size_t);
typedef MsvcrtNewHandler(__cdecl* SetNewHandlerFn)(MsvcrtNewHandler);
typedef int(__cdecl* SetNewModeFn)(int);

[[noreturn]] void out_of_memory()
{
    HWND owner = g_mainWindow ? GetLastActivePopup(g_mainWindow) : nullptr;
    MessageBoxA(owner,
                "There is not enough memory available for Quolla to continue.\n\n"
                "Please close some of your other applications or free up some memory "
                "another way before trying to run Quolla again.",
                "Quolla Self-Extractor", MB_OK | MB_ICONERROR);
    ExitProcess(1);
}

int __cdecl msvcrt_new_handler(size_t)
{
    out_of_memory();
}

void cxx_new_handler()
{
    out_of_memory();
}

void set_msvcrt_handler(MsvcrtNewHandler handler, int mode)
{
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    if (crt == nullptr)
        return;
    auto setHandler = reinterpret_cast<SetNewHandlerFn>(
        reinterpret_cast<void*>(GetProcAddress(crt, "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z")));
    auto setMode = reinterpret_cast<SetNewModeFn>(
        reinterpret_cast<void*>(GetProcAddress(crt, "?_set_new_mode@@YAHH@Z")));
    if (setHandler)
        setHandler(handler);
    if (setMode)
        setMode(mode);
}

}  // namespace

void qlMemSetNewHandler()
{
    // libstdc++'s operator new loops on its own handler and never asks
    // msvcrt's, so both are installed.
    std::set_new_handler(cxx_new_handler);
    set_msvcrt_handler(msvcrt_new_handler, 1);
}

void qlMemClearNewHandler()
{
    std::set_new_handler(nullptr);
    set_msvcrt_handler(nullptr, 0);
}

void qlMemSetMainWindow(void* window)
{
    g_mainWindow = static_cast<HWND>(window);
}
