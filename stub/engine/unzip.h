// The archive engine: the walk over the local headers of the appended
// archive, and the extraction of each entry to a file with its checks.
//
// Pure code: no Windows headers. Everything the engine needs of the outside
// world (the archive file, the output files and folders, the user) goes
// through one SfxEngineHost; the stub supplies one built on the Windows file
// functions and its dialogs, tests and fuzz targets their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/QlString.h"
#include "stub/engine/bytestream.h"
#include "stub/engine/crypt.h"

// What extract_all answers.
enum SfxExtractResult {
    kSfxExtractDone = 0,
    kSfxExtractCancelled = 1,  // Cancel in the overwrite prompt
    kSfxExtractFailed = 2,     // an error was shown
};

// String-table ids of the engine's messages.
enum SfxEngineText {
    kSfxTextDiskMissing = 1004,
    kSfxTextNoPassword = 1005,
    kSfxTextWrongPassword = 1006,
    kSfxTextAskAbort = 1021,
    kSfxTextUnzipAborted = 1023,
    kSfxTextAskOverwrite = 1026,
    kSfxTextUnzipped = 1031,
    kSfxTextCantCreate = 1039,
    kSfxTextUnsupportedMethod = 1040,
    kSfxTextBadCrc = 1041,
    kSfxTextBadHeader = 1042,
    kSfxTextCantCreateFolder = 1043,
    kSfxTextUnzipping = 1045,
    kSfxTextWriteError = 1046,
    kSfxTextReadError = 1047,
    kSfxTextIoError = 1048,
    kSfxTextNameTooLong = 1062,
    kSfxTextPpmdError = 1065,
    kSfxTextUnauthentic = 1067,
    kSfxTextSizeMismatch = 1068,
    kSfxTextPhraseWavPack = 1097,
    kSfxTextPhraseJpeg = 1099,
    kSfxTextPhraseLzma = 1103,
    kSfxTextInvalidData = 1107,
    kSfxTextNoMemory = 1108,
    kSfxTextInvalidDataOrPassword = 1109,
    kSfxTextUnknownHeader = 1112,
    kSfxTextUnknownHeaderOrPassword = 1113,
};

// One message of the engine: its string-table id and the values its
// placeholders take, in the order the text uses them. The host loads the
// text, fills it in and shows it.
struct SfxMessage {
    int id = 0;
    int phrase = 0;       // decoder messages: the id of the phrase for %s
    QlStr text;           // the name or path for %s, when the text has one
    int64_t numbers[2] = {0, 0};  // %d values in order
    int place = -1;       // read errors: the place code shown as " <%d>"
};

enum SfxAnswer {
    kSfxAnswerYes,
    kSfxAnswerNo,
    kSfxAnswerCancel,
};

// What an output path names on disk.
enum SfxPathKind {
    kSfxPathMissing,
    kSfxPathFolder,
    kSfxPathFile,
};

// The engine's outside world. Paths are full output names as the engine
// built them ('\' separators). Every call may show nothing: the engine
// decides which failure is which message.
class SfxEngineHost {
public:
    // --- the archive: read, seek (origin 0 begin, 1 current, 2 end)
    // Bytes read (0 at the end), or -1 on failure.
    virtual int32_t archive_read(uint8_t* buffer, uint32_t count) = 0;
    // The new position, or -1 on failure.
    virtual int64_t archive_seek(int64_t distance, int origin) = 0;

    // --- output files and folders
    virtual SfxPathKind path_kind(const QlStr& path) = 0;
    virtual bool create_folder(const QlStr& path) = 0;
    // One output file at a time.
    virtual bool create_output(const QlStr& path) = 0;
    // Bytes written.
    virtual uint32_t write_output(const uint8_t* data, uint32_t count) = 0;
    // Closes the open output file; sets its three times from the DOS date
    // and time (already clamped, local time) when `set_time` is true.
    virtual void close_output(bool set_time, uint16_t dos_date, uint16_t dos_time) = 0;
    // Removes a file the engine wrote and then refused.
    virtual void delete_output(const QlStr& path) = 0;

    // --- the user
    // Shows an error (caption string 2000, error icon).
    virtual void show_error(const SfxMessage& message) = 0;
    // Asks a question: kSfxTextAskOverwrite (Yes/No/Cancel),
    // kSfxTextAskAbort (Yes/No, No the default).
    virtual SfxAnswer ask(const SfxMessage& message) = 0;
    // Drains the queued input; true when the user asked to abort and said
    // Yes to kSfxTextAskAbort.
    virtual bool poll_user_abort() = 0;
    // "Unzipping %s" for the status line, with the output name.
    virtual void show_unzipping(const QlStr& output_name) = 0;
    // The meter: a percentage 0-100.
    virtual void show_progress(uint32_t percent) = 0;

    // --- spanned archives: make disk `disk` (0 the last) the archive, or
    // show why not and answer false (the extraction then ends with 2).
    virtual bool request_disk(uint16_t disk) = 0;

protected:
    ~SfxEngineHost() = default;
};

// One entry for a decoder that hands its output on in blocks (LZMA, PPMd,
// JPEG method, WavPack). The source gives the entry's compressed bytes
// (already decrypted) and ends with them; the sink takes the output, never
// zero bytes at a time, and answers non-zero (kQlDecodeAborted when the user
// aborted) to stop the decoder.
struct SfxDecodeJob {
    QlByteSource* source = nullptr;
    QlByteSink* sink = nullptr;
    uint64_t compressed_size = 0;
    uint64_t uncompressed_size = 0;  // as recorded
    uint16_t flags = 0;              // the local header's general-purpose flags
    uint8_t* buffer = nullptr;       // the 1 MiB decode buffer
    uint32_t buffer_size = 0;
};

// A decoder's entry driver: a QlDecodeResult. A variant that lacks a method
// leaves its slot null, and such entries are "Unsupported compression method".
typedef int (*SfxDecodeFunction)(const SfxDecodeJob& job);

struct SfxDecoders {
    SfxDecodeFunction lzma = nullptr;     // method 14
    SfxDecodeFunction jpeg = nullptr;     // method 96
    SfxDecodeFunction wavpack = nullptr;  // method 97
    SfxDecodeFunction ppmd = nullptr;     // method 98: a non-zero result is message 1065 with it
};

// The AES decryption of one entry at a time. The engine reaches AES only
// through this object, so that the variants without AES link none of it.
class SfxAesDecryption {
public:
    // Sets the entry up over `archive` (the entry's raw bytes), as
    // QlAesDecryptSource::begin.
    virtual QlCryptResult begin(QlByteSource* archive, const char* password, size_t password_length,
                                unsigned key_bits, uint64_t compressed_size) = 0;
    // The decrypted ciphertext, for the decoders.
    virtual QlByteSource* source() = 0;
    // After the data: reads and compares the authentication code.
    virtual QlCryptResult check_authentication() = 0;

protected:
    ~SfxAesDecryption() = default;
};

// The settings one extraction runs with.
struct SfxExtractSettings {
    SfxEngineHost* host = nullptr;
    QlStr archive_path;           // for read-error messages
    uint64_t zip_offset = 0;      // where the archive's first record starts
    uint32_t total_size = 0;      // the header record's total uncompressed size (meter)
    QlStr unzip_folder;           // empty: relative to the current folder
    bool overwrite_all = false;
    const char* password = nullptr;  // narrow (ANSI), null when none was typed
    bool spanned = false;
    bool parts_are_executables = false;
    bool silent = false;
    bool meter_in_use = false;
    // When set, the meter's state as it is now: the dialog may show the
    // meter in the middle of an extraction (meter_in_use is then ignored).
    const bool* live_meter_in_use = nullptr;
    uint8_t* decode_buffer = nullptr;  // 1 MiB, for the decoders that hand on blocks
    uint32_t decode_buffer_size = 0;
    SfxDecoders decoders;
    // AES entries: the variants with the AES feature hand in an
    // SfxAesDecryptionOf (stub/engine/unzipaes.h); null in the others, whose
    // AES entries are "Unsupported compression method". Traditional Zip
    // decryption is in every variant.
    SfxAesDecryption* aes = nullptr;
};

// Extracts every entry. 0, 1 or 2 (SfxExtractResult); every fatal message
// inside has been shown through the host before it returns 2.
int extract_all(const SfxExtractSettings& settings);

// Entries that reached decoding in the last extract_all (string 1031).
uint32_t extracted_entry_count();
