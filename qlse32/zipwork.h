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

// The disks of a spanned set as the split fills them: one part a disk,
// written front to back.
class QlseDiskSet {
public:
    // Bytes the current disk's part may still take.
    virtual uint64_t room() = 0;
    // Offset of the next byte in the current part.
    virtual uint64_t position() = 0;
    // Appends to the current part; false when the write failed.
    virtual bool write(const uint8_t* data, uint32_t count) = 0;
    // Closes the current part, has disk `number` (2 on) put in and opens its
    // part, empty: kQlseOk, kQlseCancelled, or kQlseFailed after a report.
    virtual QlseResult next_disk(int number) = 0;
    // After a failure or cancel: the part being written is removed, so that
    // no cut-off part passes for a whole one.
    virtual void discard() = 0;

protected:
    ~QlseDiskSet() = default;
};

// Spans the whole archive over the disks, starting with the current part as
// it stands (disk 1, perhaps behind a stub). No record (local header,
// descriptor, directory header, end record) is cut at a disk's end; each
// directory header gets its entry's disk and offset in that disk's part,
// the end record the numbers of its own disk and of the directory's;
// deferred sizes go into the local headers as in the append.
QlseResult qlse_span_archive(QlseFile& source, QlseDiskSet& disks, QlseReporter& reporter);

// Non-zero for an archive with an end record; `part` gets the disk number
// plus one when that record is not on the first disk (the last piece of a
// spanned or split set), else 0.
int qlse_check_multi_volume(QlseFile& zip, int* part);
