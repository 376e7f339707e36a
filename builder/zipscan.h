// The builder's reading of an input Zip archive: one pass over its records to
// learn what the stub must decode, whether entries are encrypted, where the
// end record lies and how large the archive unpacks; and the end-record
// search that the comment step and the helper library share.
//
// Pure code: no Windows headers. A refusal is answered as the id of the
// builder message that explains it; the caller shows it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "builder/sfxheader.h"
#include "common/QlTypes.h"

// The archive as the scan reads it: sequential reads and absolute seeks.
class ZipScanInput {
public:
    // Bytes read (0 at the end), or -1 on failure.
    virtual int32_t read(uint8_t* buffer, uint32_t count) = 0;
    virtual bool seek(uint64_t position) = 0;
    virtual uint64_t position() = 0;

protected:
    ~ZipScanInput() = default;
};

// Message ids of the scan's refusals.
enum ZipScanFault {
    kZipScanOk = 0,
    kZipScanReadError = 1018,
    kZipScanNoHeader = 1021,       // deferred size without a descriptor to find
    kZipScanUnsupported = 1023,    // method or encryption the stubs cannot handle
    kZipScanNotDisk0 = 1026,
    kZipScanUnknownRecord = 1027,
    kZipScanSpanned = 1072,
    kZipScanNameTooLong = 1077,
    kZipScanInvalidName = 1111,
    kZipScanZip64 = 6328,
};

// Feature bits, the same as the stub variants' masks.
const uint16_t kZipFeatureAes = 0x01;
const uint16_t kZipFeatureUnicode = 0x20;

struct ZipScanSettings {
    // -y, -setup, -ishield3 and -f switch the long-name question off.
    bool no_questions = false;
    // The builder's 8.3 test of one entry name; null: every name passes.
    bool (*is_dos_name)(const QlChar* name, int length) = nullptr;
    // The work buffer through which a deferred size is searched.
    uint8_t* work = nullptr;
    uint32_t work_size = 0;
};

struct ZipScanResult {
    uint32_t end_record_offset = 0;
    uint32_t total_size = 0;  // uncompressed, 32-bit wrap
    uint16_t feature_mask = 0;
    bool has_encrypted_entries = false;
    bool has_long_names = false;
    bool has_isdel_entry = false;
    bool has_setup_ins_entry = false;
    // The first entry named "setup.exe" or "install.exe", for a default command.
    QlChar setup_entry[201] = {};
};

// The record loop from the input's position until the end record. The result
// is ORed into, never cleared (but total_size, which the caller zeroes).
ZipScanFault scan_zip_archive(ZipScanInput& input, const ZipScanSettings& settings,
                              ZipScanResult* result);

// The name rule of the scan: at most 200 bytes, and a name the stub would
// extract (no "..", no device, no drive ...), judged on the name as the stub
// decodes it (`qlZipNameDecode`: UTF-8 with general-purpose bit 11, else the
// ANSI code page); `wide` gets that name (201 units).
ZipScanFault check_entry_name(const uint8_t* name, size_t length, bool utf8, QlChar* wide,
                              int* wide_length);

// The end-of-central-directory record of an archive held in `tail`, the last
// `tail_size` bytes of a file of `file_size` bytes: searched backwards, and
// taken only where its comment ends exactly at the end of the file and its
// directory lies before it, so "PK\5\6" inside a comment is never taken.
// Answers the record's offset in the file, or -1.
int64_t find_end_record(const uint8_t* tail, size_t tail_size, uint64_t file_size);
// How much of the end of a file holds the end record: 22 bytes and the
// longest comment.
const size_t kZipEndSearchSize = 22 + 0xFFFF;

// A file read and written at absolute offsets; every call is all or nothing.
class ZipRandomFile {
public:
    virtual bool read_at(uint64_t offset, uint8_t* buffer, uint32_t count) = 0;
    virtual bool write_at(uint64_t offset, const uint8_t* buffer, uint32_t count) = 0;
    virtual uint64_t size() = 0;

protected:
    ~ZipRandomFile() = default;
};

// The output of the comment step, which also cuts the file at a size.
class ZipCommentFile : public ZipRandomFile {
public:
    virtual bool cut(uint64_t size) = 0;

protected:
    ~ZipCommentFile() = default;
};

enum class ZipCommentFault {
    Ok,
    NoEndRecord,  // nothing was changed
    WriteFailed,  // the file may be changed: it must not be used
};

// Where the comment went, for the header record.
struct ZipCommentPlace {
    uint32_t offset = 0;       // of the comment's first byte
    uint8_t lines = 0;         // LF-ended lines (at most 255)
    uint8_t longest_line = 0;  // bytes of the longest of them (at most 255)
};

// Puts `comment` where the end record's comment begins, cuts the file behind
// it, and only then sets the record's comment length: a write that fails
// never leaves a length that promises bytes which are not there.
ZipCommentFault append_zip_comment(ZipCommentFile& file, const uint8_t* comment, uint16_t size,
                                   ZipCommentPlace* place);

// The largest Zip that still makes a self-extractor below 2 GB with a stub of
// `stub_size` bytes.
uint64_t largest_zip_for_stub(uint32_t stub_size);
inline bool zip_fits_2gb(uint64_t zip_size, uint32_t stub_size)
{
    return zip_size < 0x100000000ull && zip_size <= largest_zip_for_stub(stub_size);
}

inline uint16_t zip_get16(const uint8_t* p) { return sfx_detail::get16(p); }
inline uint32_t zip_get32(const uint8_t* p) { return sfx_detail::get32(p); }
inline void zip_put16(uint8_t* p, uint16_t v) { sfx_detail::put16(p, v); }
inline void zip_put32(uint8_t* p, uint32_t v) { sfx_detail::put32(p, v); }

const uint32_t kZipLocalSig = 0x04034B50;
const uint32_t kZipCentralSig = 0x02014B50;
const uint32_t kZipEndSig = 0x06054B50;
const uint32_t kZipSpannedEndSig = 0x05054B50;
const uint32_t kZipDescriptorSig = 0x08074B50;
const uint32_t kZipSplitMarker = 0x30304B50;
const uint32_t kZip64EndSig = 0x06064B50;
const uint32_t kZip64LocatorSig = 0x07064B50;
