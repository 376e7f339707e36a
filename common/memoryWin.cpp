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

// The handler that malloc's failures reach through msvcrt.
QlOutOfMemoryHandler g_handler = out_of_memory;

int __cdecl msvcrt_new_handler(size_t)
{
    g_handler();
    return 0;  // a handler that returns lets the allocation fail
}

struct MsvcrtSetters {
    SetNewHandlerFn handler = nullptr;
    SetNewModeFn mode = nullptr;
};

MsvcrtSetters msvcrt_setters()
{
    MsvcrtSetters setters;
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    if (crt == nullptr)
        return setters;
    setters.handler = reinterpret_cast<SetNewHandlerFn>(
        reinterpret_cast<void*>(GetProcAddress(crt, "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z")));
    setters.mode = reinterpret_cast<SetNewModeFn>(
        reinterpret_cast<void*>(GetProcAddress(crt, "?_set_new_mode@@YAHH@Z")));
    return setters;
}

// Installs both msvcrt settings and answers the ones they replaced.
QlMemHandlerState set_handlers(void (*cxx)(), MsvcrtNewHandler crt, int mode)
{
    QlMemHandlerState before = {std::set_new_handler(cxx), nullptr, 0};
    const MsvcrtSetters setters = msvcrt_setters();
    if (setters.handler)
        before.crt_handler = setters.handler(crt);
    if (setters.mode)
        before.crt_mode = setters.mode(mode);
    return before;
}

}  // namespace

void qlMemSetNewHandler()
{
    qlMemSetNewHandler(out_of_memory);
}

void qlMemSetNewHandler(QlOutOfMemoryHandler handler)
{
    // libstdc++'s operator new loops on its own handler and never asks
    // msvcrt's, so both are installed.
    g_handler = handler;
    set_handlers(handler, msvcrt_new_handler, 1);
}

void qlMemClearNewHandler()
{
    set_handlers(nullptr, nullptr, 0);
}

QlMemHandlerState qlMemSuspendNewHandler()
{
    return set_handlers(nullptr, nullptr, 0);
}

void qlMemResumeNewHandler(const QlMemHandlerState& state)
{
    set_handlers(state.cxx_handler, state.crt_handler, state.crt_mode);
}

void qlMemSetMainWindow(void* window)
{
    g_mainWindow = static_cast<HWND>(window);
}
