// Memory helpers: the program-wide out-of-memory handler, a narrow string
// duplicate, free-and-clear, and help by topic type.
#pragma once

#include <cstdlib>

// An out-of-memory handler: shows its message and ends the process.
typedef void (*QlOutOfMemoryHandler)();

// Makes the library's out-of-memory handler the handler of operator new and
// of the C runtime's malloc family (new-mode 1). The handler shows the
// out-of-memory message and ends the process with exit code 1. Windows only.
void qlMemSetNewHandler();
// The same with a program's own handler (the stub has its own box).
void qlMemSetNewHandler(QlOutOfMemoryHandler handler);
// Removes the handler from both and sets new-mode 0, so that a failed
// allocation returns null (malloc) or throws (new) again.
void qlMemClearNewHandler();

// Whatever handlers and new-mode were installed, as a suspension took them.
struct QlMemHandlerState {
    void (*cxx_handler)();
    int (*crt_handler)(size_t);
    int crt_mode;
};
// Suspends the handlers like qlMemClearNewHandler and answers what they
// were; qlMemResumeNewHandler puts exactly that back. The decoders suspend
// the handler this way around their large allocations. Windows only.
QlMemHandlerState qlMemSuspendNewHandler();
void qlMemResumeNewHandler(const QlMemHandlerState& state);
// The window whose last active popup owns the out-of-memory box (may be null).
void qlMemSetMainWindow(void* window);

// A heap copy of a narrow text (free it with qlMemFree); null gives null.
char* qlMemStrDup(const char* text);

// Frees a block taken from the C heap and clears the pointer.
template <class T>
inline void qlMemFree(T*& block)
{
    std::free(block);
    block = nullptr;
}

// Opens the help topic of a topic type: 2, 3 and 4 are the types of the
// builder's dialogs; any other value is the help context itself. Windows only;
// the program supplies the viewer through qlHostShowHelpContext.
void qlHelpByType(void* window, int type);
void qlHostShowHelpContext(void* window, unsigned context);
