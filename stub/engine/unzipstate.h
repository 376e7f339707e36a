// The archive engine's own state: the one extraction record, the current
// entry, and the functions that the walk (unzip.cpp) and the extraction of
// an entry (extract.cpp) share. Internal to the engine.
//
// Failures never unwind through a decoder or the host: the byte source and
// the sink record the first failure in `pending` and answer with a failure
// code; the engine raises it once the decoder has returned. Everything else
// ends the extraction with SfxExtractionEnd, caught in extract_all.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/QlString.h"
#include "stub/engine/bytestream.h"
#include "stub/engine/crypt.h"
#include "stub/engine/inflate.h"
#include "stub/engine/unzip.h"

// The 26 bytes after a local-header signature.
struct SfxLocalHeader {
    uint16_t version_needed;
    uint16_t flags;
    uint16_t method;
    uint16_t dos_time;
    uint16_t dos_date;
    uint32_t crc;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint16_t name_length;
    uint16_t extra_length;
};

enum {
    kSfxLocalHeaderSize = 26,
    kSfxMaxNameBytes = 3120,
    kSfxBlockSize = 0x7000,        // input refills and output flushes
    kSfxBufferSize = 0x7014,
    kSfxMeterStep = 0x10000,
    kSfxMaxPasswordBytes = 99,
};

// General-purpose flag bits of the local header.
enum SfxHeaderFlag : uint16_t {
    kSfxFlagEncrypted = 0x0001,
    kSfxFlagDataDescriptor = 0x0008,
    kSfxFlagUtf8 = 0x0800,
};

// The current entry's facts. Made afresh for every local header: nothing of
// one entry (AES bits above all) may reach the next.
struct SfxEntryRecord {
    uint64_t compressed_size;
    uint64_t uncompressed_size;
    uint32_t crc;
    uint32_t flags;           // kSfxEntryEncrypted and the QlExtraEntryFlag bits
    uint16_t real_method;     // from the 0x9901 record
    uint16_t key_bits;
    uint32_t crypto_value3, crypto_value4;
};

enum : uint32_t {
    kSfxEntryEncrypted = 0x1,
};

// How the extraction ends: the value extract_all returns. The message, if
// any, has been shown.
struct SfxExtractionEnd {
    int value;
};

// A failure seen inside a decoder's call: shown and raised once it returns.
struct SfxPendingEnd {
    bool set = false;
    bool show = false;
    bool user_abort = false;  // Yes to "Abort unzip operation?": the decoder reports it
    int value = kSfxExtractFailed;
    SfxMessage message;
};

struct ExtractionState;

// The entry's raw bytes from the archive, never past its compressed size;
// asks for the next disk of a spanned archive when a part ends.
class SfxEntryInput final : public QlByteSource {
public:
    int32_t fill(uint8_t* buffer, uint32_t capacity) override;
    ExtractionState* state = nullptr;
};

// The decoders' sink: size bound, meter, CRC-32, write, abort poll.
class SfxEntrySink final : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override;
    ExtractionState* state = nullptr;
};

struct ExtractionState {
    const SfxExtractSettings* settings = nullptr;
    SfxEngineHost* host = nullptr;
    uint16_t disk = 1;

    // --- the current entry
    SfxLocalHeader header = {};
    SfxEntryRecord entry = {};
    uint16_t method = 0;              // the real method (99 replaced by the record's)
    uint64_t remaining = 0;           // compressed bytes not yet taken from the archive
    bool data_descriptor = false;
    bool zip64_descriptor = false;    // the descriptor's sizes have 8 bytes
    bool descriptor_read = false;
    char raw_name[kSfxMaxNameBytes + 1] = {};
    std::vector<uint8_t> extra;
    QlStr entry_name;
    QlStr output_name;

    // --- input: the archive, and the decrypting layer over it
    SfxEntryInput archive_input;
    int read_place = 2;               // place code of a short read of entry data
    QlZipCryptSource zip_crypt;
    QlByteSource* data_source = nullptr;
    std::unique_ptr<uint8_t[]> input;

    // --- output
    std::unique_ptr<uint8_t[]> window_bytes;
    QlOutputWindow window = {};
    SfxEntrySink sink;
    uint32_t crc = 0;                 // the register
    uint64_t total_written = 0;
    bool output_open = false;
    uint64_t bytes_done = 0;          // meter, over the whole run
    uint64_t bytes_at_last_step = 0;

    // --- decoders
    std::unique_ptr<QlInflateState> inflate;
    std::unique_ptr<uint8_t[]> own_window;
    std::unique_ptr<uint8_t[]> own_decode_buffer;

    SfxPendingEnd pending;
};

// --- the walk (unzip.cpp)
[[noreturn]] void fatal_message(ExtractionState& s, const SfxMessage& message);
[[noreturn]] void fatal_id(ExtractionState& s, int id, const QlStr& text = QlStr());
[[noreturn]] void read_error(ExtractionState& s, int place);
SfxMessage read_error_message(const ExtractionState& s, int place);
// Bytes of the entry left behind in the archive: 0 when nothing remains.
uint64_t skip_entry_data(ExtractionState& s);
// One more entry reached decoding (string 1031 counts them).
void count_processed_entry();

// --- one entry (extract.cpp)
void decompress_entry(ExtractionState& s);
uint32_t refill_input(ExtractionState& s);
int write_output(ExtractionState& s, const uint8_t* data, uint32_t count, bool meter_step);
uint32_t update_crc32(uint32_t crc, const uint8_t* data, uint32_t count);
[[noreturn]] void decoder_error(ExtractionState& s, int code, int phrase);
// Builds the output name of the entry and refuses a name that could leave the
// Unzip To folder or that Windows cannot create.
void build_output_path(ExtractionState& s, bool folder_entry);
void make_output_folders(ExtractionState& s);
bool confirm_overwrite(ExtractionState& s);
void create_output_file(ExtractionState& s);
void set_output_file_time(ExtractionState& s);
void show_meter(ExtractionState& s);
// Records the first failure inside a decoder's call.
void defer_end(ExtractionState& s, int value, const SfxMessage* message);
// Ends the extraction with the recorded failure, if any.
void raise_pending(ExtractionState& s);
