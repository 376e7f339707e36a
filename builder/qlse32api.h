// The interface between the builder and its helper library QLSE32.DLL: the
// seven entry points (exported undecorated through qlse32/qlse32.def), their
// blocks and the two callback tables. Both sides include this header and
// nothing else of each other.
//
// Texts are UTF-16. Every entry point and every callback uses the Win32
// calling convention (callee pops), so the library may be built by any
// compiler that builds Windows DLLs.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define QLSE_API __stdcall
#else
#define QLSE_API
#endif

typedef wchar_t QlseChar;

// The builder binds these by name; missing any of them stops the start-up.
#define QLSE_ENTRY_ZIPSPLIT "zipsplit"
#define QLSE_ENTRY_LABEL "ziplabelDiskette"
#define QLSE_ENTRY_WIPE "zipwipeDiskette"
#define QLSE_ENTRY_ZIP_INIT "zip_init"
#define QLSE_ENTRY_CHECK_MULTI "check_multi_volume"
#define QLSE_ENTRY_UNZIP_INIT "unzip_init"
#define QLSE_ENTRY_UNZIP "unzip"

// Answered by every entry point that has no work of its own yet.
const int kQlseNotYet = -1;

// --- the archive test: unzip(block)
// 172 bytes, zero but for the fields below. 0 and 1 mean the archive is sound.
#pragma pack(push, 4)
struct QlseUnzipBlock {
    uint32_t reserved_0[2];
    uint32_t test_mode;             // +8: 1
    uint32_t reserved_12[16];
    uint32_t quiet;                 // +76: 1
    const QlseChar* zip_name;       // +80
    uint32_t reserved_84[15];
    uint32_t no_output;             // +144: 1
    uint32_t reserved_148[6];
};

// --- appending or spanning: zipsplit(block)
// 148 bytes, zeroed before the fields are set.
struct QlseSplitBlock {
    uint32_t result;                // +0 out: non-zero = failed or cancelled
    uint32_t reserved_4[3];
    uint32_t mode;                  // +16: kQlseSplitSpan or kQlseSplitAppend
    uint32_t reserved_20;           // +20: 0
    const QlseChar* source_zip;     // +24
    const QlseChar* target;         // +28: the new EXE (closed), or its ".zip" twin
    uint32_t reserved_32[29];
};
#pragma pack(pop)

const uint32_t kQlseSplitSpan = 6;    // over removable disks
const uint32_t kQlseSplitAppend = 8;  // behind the target's bytes

static_assert(sizeof(void*) != 4 || sizeof(QlseUnzipBlock) == 172, "unzip block is 172 bytes");
static_assert(sizeof(void*) != 4 || offsetof(QlseUnzipBlock, test_mode) == 8, "layout");
static_assert(sizeof(void*) != 4 || offsetof(QlseUnzipBlock, quiet) == 76, "layout");
static_assert(sizeof(void*) != 4 || offsetof(QlseUnzipBlock, zip_name) == 80, "layout");
static_assert(sizeof(void*) != 4 || offsetof(QlseUnzipBlock, no_output) == 144, "layout");
static_assert(sizeof(void*) != 4 || sizeof(QlseSplitBlock) == 148, "split block is 148 bytes");
static_assert(offsetof(QlseSplitBlock, result) == 0, "layout");
static_assert(offsetof(QlseSplitBlock, mode) == 16, "layout");
static_assert(offsetof(QlseSplitBlock, reserved_20) == 20, "layout");
static_assert(sizeof(void*) != 4 || offsetof(QlseSplitBlock, source_zip) == 24, "layout");
static_assert(sizeof(void*) != 4 || offsetof(QlseSplitBlock, target) == 28, "layout");

// --- callbacks, one type per shape
typedef int(QLSE_API* QlseCbNone)();
typedef int(QLSE_API* QlseCbStatusText)(int any, const QlseChar* text);
typedef int(QLSE_API* QlseCbError)(int code, const QlseChar* text);
typedef int(QLSE_API* QlseCbMessage)(const QlseChar* text, int quiet);
typedef int(QLSE_API* QlseCbCount)(uint32_t value);
typedef int(QLSE_API* QlseCbMessageBox)(void* owner, const QlseChar* text,
                                        const QlseChar* caption, uint32_t type);
typedef int(QLSE_API* QlseCbFlag)(int flag);
typedef int(QLSE_API* QlseCbDiskPrompt)(int number, const QlseChar* drive,
                                        const QlseChar* format);
typedef int(QLSE_API* QlseCbText)(const QlseChar* text);
typedef int(QLSE_API* QlseCbCheckName)(int any, const QlseChar* name, int any2,
                                       const QlseChar* other_name);
typedef void(QLSE_API* QlseCbReport)(const QlseChar* file, int line);

// zip_init's 20 arguments in slot order. The table is passed by value: on
// 32-bit x86 that puts exactly the 20 four-byte arguments on the stack.
struct QlseZipCallbacks {
    QlseCbNone unused_1;               // 1
    QlseCbNone unused_2;               // 2
    QlseCbStatusText status_text;      // 3
    QlseCbError error;                 // 4
    QlseCbMessage message;             // 5
    QlseCbNone poll_cancel;            // 6
    QlseCbCount progress_start;        // 7
    QlseCbCount progress_step;         // 8
    QlseCbNone idle;                   // 9
    QlseCbMessageBox message_box;      // 10
    void* null_11;                     // 11
    void* null_12;                     // 12
    QlseCbFlag status_name;            // 13
    QlseCbDiskPrompt disk_prompt;      // 14: 1 OK, 3 OK + erase, 2 cancelled
    QlseCbText disk_prompt_text;       // 15
    QlseCbText write_error;            // 16: 5
    void* null_17;                     // 17
    QlseCbNone unused_18;              // 18
    void* null_19;                     // 19
    const QlseChar* out_of_memory;     // 20
};

// unzip_init's 19 arguments in slot order.
struct QlseUnzipCallbacks {
    QlseCbNone none_1;                 // 1: 0
    QlseCbNone none_2;                 // 2: 0
    QlseCbCheckName check_name;        // 3
    QlseCbError error;                 // 4
    QlseCbNone none_5;                 // 5: 1
    QlseCbNone none_6;                 // 6: 0
    QlseCbMessageBox message_box;      // 7
    QlseCbReport on_assert;            // 8
    QlseCbReport on_win32_error;       // 9
    QlseCbDiskPrompt disk_prompt;      // 10
    QlseCbNone none_11;                // 11: 1
    QlseCbNone none_12;                // 12: 5
    QlseCbNone none_13;                // 13: 5
    QlseCbNone none_14;                // 14: 0
    QlseCbNone none_15;                // 15: 0
    QlseCbNone none_16;                // 16: 1
    QlseCbNone none_17;                // 17: 0
    QlseCbNone none_18;                // 18: 2
    const QlseChar* out_of_memory;     // 19
};

static_assert(sizeof(void*) != 4 || sizeof(QlseZipCallbacks) == 20 * 4, "20 arguments");
static_assert(sizeof(void*) != 4 || sizeof(QlseUnzipCallbacks) == 19 * 4, "19 arguments");
static_assert(sizeof(void*) != 4 || offsetof(QlseZipCallbacks, disk_prompt) == 13 * 4, "slot 14");
static_assert(sizeof(void*) != 4 || offsetof(QlseUnzipCallbacks, disk_prompt) == 9 * 4, "slot 10");

// --- the entry points
typedef int(QLSE_API* QlseZipInitFn)(QlseZipCallbacks table);
typedef int(QLSE_API* QlseUnzipInitFn)(QlseUnzipCallbacks table);
typedef int(QLSE_API* QlseUnzipFn)(QlseUnzipBlock* block);
// Non-zero for a complete archive; part > 0 for the last piece of a set.
typedef int(QLSE_API* QlseCheckMultiVolumeFn)(const QlseChar* name, int* part);
typedef int(QLSE_API* QlseZipSplitFn)(QlseSplitBlock* block);
// drive: letter, colon, backslash. Non-zero is failure.
typedef int(QLSE_API* QlseWipeFn)(const QlseChar* drive);
typedef int(QLSE_API* QlseLabelFn)(const QlseChar* drive, int disk);
