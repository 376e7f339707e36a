// The helper library's work on Zip archives: the archive test, appending an
// archive behind a file with its offsets raised, and the multi-volume check.
//
// Pure code: no Windows headers. The library's entry points wrap these over
// Windows files and route the reports to the builder's callbacks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "builder/zipscan.h"
#include "common/QlTypes.h"

// A file read and written at absolute offsets; every call is all or nothing.
using QlseFile = ZipRandomFile;

// Where the work reports to.
class QlseReporter {
public:
    virtual void progress_start(uint64_t total) = 0;
    virtual void progress_step(uint64_t position) = 0;
    // True when the user asked to stop.
    virtual bool cancelled() = 0;
    virtual void error(const QlChar* text) = 0;
    // Every entry name of the archive test, as stored (UTF-8 with bit 11).
    virtual void entry_name(const uint8_t* name, size_t length, bool utf8) = 0;

protected:
    ~QlseReporter() = default;
};

enum QlseResult {
    kQlseOk = 0,
    kQlseFailed = 2,     // an error was reported
    kQlseCancelled = 3,
};

// The decoders the archive test may use; a null slot makes its method's
// entries unsupported. Their shape is the stub engine's.
struct SfxDecoders;

// Tests an archive: central directory and local headers agree, every entry
// that needs no password decodes to its recorded size and CRC-32.
QlseResult qlse_test_archive(QlseFile& zip, const SfxDecoders& decoders, QlseReporter& reporter);

// Appends the whole archive behind the target's bytes; every local-header
// offset in the central directory and the directory offset in the end record
// are raised by the target's size, and entries with deferred sizes get their
// CRC-32 and sizes from the central directory into their local headers.
QlseResult qlse_append_archive(QlseFile& source, QlseFile& target, QlseReporter& reporter);

// Non-zero for an archive with an end record; `part` gets the disk number
// plus one when that record is not on the first disk (the last piece of a
// spanned or split set), else 0.
int qlse_check_multi_volume(QlseFile& zip, int* part);

// The volume label of disk `disk` of a spanned set: "PKBACK# 001", at most
// 11 characters. False for a number outside 1-999.
bool qlse_disk_label(int disk, char label[12]);
