// The archive walk: the local headers of the appended archive from front to
// back, each entry's name and extra field, and the recovery point of the
// whole extraction.
//
//   extract_all -> extract_entries: signature loop
//     local header   -> extract_entry -> folder entry: folders, skip data
//                                     -> file entry: path, folders, overwrite,
//                                        decryption set-up, decompress_entry
//                    -> data descriptor skipped when flag bit 3 is set
//     spanning marks -> stepped over (a stray 07 08 mark only when spanned)
//     central directory or end record -> done
#include "stub/engine/unzipstate.h"

#include <cstring>

#include "common/QlBytes.h"
#include "common/QlHooks.h"
#include "common/QlRaise.h"
#include "common/zipname.h"
#include "stub/engine/Qlextra.h"

namespace {

const char kSource[] = "unzip";

enum UnzipLine {
    kUnzipOverread = 40,   // the host's archive_read stored more than asked for
    kUnzipNoHost = 41,     // extract_all without a host
};

uint32_t g_processed_entries = 0;

const uint8_t kLocalHeaderTail[2] = {3, 4};
const uint8_t kCentralTail[2] = {1, 2};
const uint8_t kSpanTail[2] = {7, 8};
const uint8_t kSpanZeroTail[2] = {'0', '0'};
const uint8_t kEndTail[2] = {5, 6};
const uint8_t kZip64EndTail[2] = {6, 6};
const uint8_t kZip64LocatorTail[2] = {6, 7};

bool isSignature(const uint8_t* bytes, const uint8_t tail[2])
{
    return bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == tail[0] && bytes[3] == tail[1];
}

[[noreturn]] void endExtraction(int value)
{
    qlRaise(SfxExtractionEnd{value});
}

void askForDisk(ExtractionState& s, uint16_t disk)
{
    if (!s.host->request_disk(disk))
        endExtraction(kSfxExtractFailed);
    s.disk = disk;
}

// Reads `count` bytes of the walk's own records. In a spanned archive a part
// that ends early brings the next disk, from whose start the record is read
// again.
void readRecord(ExtractionState& s, uint8_t* buffer, uint32_t count, int spanned_place, int place)
{
    int32_t n = s.host->archive_read(buffer, count);
    if (n == static_cast<int32_t>(count))
        return;
    if (!s.settings->spanned)
        read_error(s, place);
    askForDisk(s, static_cast<uint16_t>(s.disk + 1));
    n = s.host->archive_read(buffer, count);
    if (n != static_cast<int32_t>(count))
        read_error(s, spanned_place);
}

// Exactly `count` bytes and a NUL behind them (the buffer has count + 1).
void read_exact(ExtractionState& s, uint32_t count, uint8_t* buffer)
{
    buffer[count] = 0;
    if (count > 0 && s.host->archive_read(buffer, count) != static_cast<int32_t>(count))
        read_error(s, 1);
}

void decodeName(ExtractionState& s)
{
    s.entry_name = qlZipNameDecode(s.raw_name, s.header.name_length, (s.header.flags & kSfxFlagUtf8) != 0);
}

// The data descriptor after the entry's data: CRC-32 and both sizes, with or
// without its signature; 8-byte sizes when the header deferred to a Zip64
// record.
struct DataDescriptor {
    uint32_t crc;
    uint64_t compressed;
    uint64_t uncompressed;
};

DataDescriptor readDataDescriptor(ExtractionState& s)
{
    uint8_t bytes[24];
    readRecord(s, bytes, 4, 9, 9);
    const bool signed_form = isSignature(bytes, kSpanTail);
    const uint32_t size_bytes = s.zip64_descriptor ? 8 : 4;
    const uint32_t rest = (signed_form ? 4 : 0) + 2 * size_bytes;
    readRecord(s, bytes + 4, rest, 9, 9);
    const uint8_t* p = signed_form ? bytes + 4 : bytes;
    DataDescriptor d;
    d.crc = qlLoad32(p);
    d.compressed = s.zip64_descriptor ? qlLoad64(p + 4) : qlLoad32(p + 4);
    d.uncompressed = s.zip64_descriptor ? qlLoad64(p + 12) : qlLoad32(p + 8);
    s.descriptor_read = true;
    return d;
}

// Reads the 0x9901 record's facts and the Zip64 sizes; the Unicode path
// replaces the entry name.
void evaluateExtraField(ExtractionState& s)
{
    QlExtraEntryFacts facts;
    facts.headerUncompressed = s.header.uncompressed_size;
    facts.headerCompressed = s.header.compressed_size;
    facts.method = s.header.method;
    facts.encrypted = (s.header.flags & kSfxFlagEncrypted) != 0;
    // The sizes of a Zip64 record stand for the header's markers whether or
    // not a descriptor follows: with the header's markers kept, the walk
    // would take 4 GiB of data.
    facts.dataDescriptor = false;
    facts.storedName = s.raw_name;
    facts.storedNameLength = s.header.name_length;

    QlExtraList list(s.extra.empty() ? nullptr : s.extra.data(), s.header.extra_length);
    const QlExtraApplyResult result = apply_extra_fields(list, facts);
    for (QlExtraType* object = list.First(); object != nullptr; object = list.Next())
        if (object->HeaderId() == kQlExtraIdZip64)
            s.zip64_descriptor = s.header.compressed_size == 0xFFFFFFFFu || s.header.uncompressed_size == 0xFFFFFFFFu;

    // A size of 2^32 or more is beyond this stub; it is never cut short.
    if (result == kQlExtraSizeTooLarge)
        fatal_id(s, kSfxTextBadHeader);
    s.entry.compressed_size = facts.compressedSize;
    s.entry.uncompressed_size = facts.uncompressedSize;
    s.entry.flags |= facts.flags;
    if (facts.hasCryptRecord) {
        s.entry.real_method = facts.realMethod;
        s.entry.key_bits = facts.keyBits;
        s.entry.crypto_value3 = facts.cryptoValue3;
        s.entry.crypto_value4 = facts.cryptoValue4;
        if (s.header.method == 99)
            s.method = facts.realMethod;
    }
    if (facts.hasUnicodeName)
        s.entry_name = facts.unicodeName;
}

void readLocalHeader(ExtractionState& s)
{
    uint8_t b[kSfxLocalHeaderSize];
    readRecord(s, b, sizeof b, 3, 4);
    SfxLocalHeader& h = s.header;
    h.version_needed = qlLoad16(b);
    h.flags = qlLoad16(b + 2);
    h.method = qlLoad16(b + 4);
    h.dos_time = qlLoad16(b + 6);
    h.dos_date = qlLoad16(b + 8);
    h.crc = qlLoad32(b + 10);
    h.compressed_size = qlLoad32(b + 14);
    h.uncompressed_size = qlLoad32(b + 18);
    h.name_length = qlLoad16(b + 22);
    h.extra_length = qlLoad16(b + 24);

    // Everything of the previous entry goes.
    s.entry = SfxEntryRecord();
    s.entry.compressed_size = h.compressed_size;
    s.entry.uncompressed_size = h.uncompressed_size;
    s.entry.crc = h.crc;
    if (h.flags & kSfxFlagEncrypted)
        s.entry.flags |= kSfxEntryEncrypted;
    s.method = h.method;
    s.data_descriptor = (h.flags & kSfxFlagDataDescriptor) != 0;
    s.zip64_descriptor = false;
    s.descriptor_read = false;
    s.data_source = &s.archive_input;
    s.read_place = 2;
    s.extra.clear();
    s.output_name = QlStr();
}

bool isFolderName(const QlStr& name)
{
    const QlChar last = name.Length() > 0 ? name.Text()[name.Length() - 1] : 0;
    return last == QL('/') || last == QL('\\');
}

void skipAllEntryData(ExtractionState& s)
{
    while (skip_entry_data(s) > 0) {
    }
}

bool isSupportedMethod(const ExtractionState& s)
{
    const SfxDecoders& d = s.settings->decoders;
    switch (s.method) {
    case 0:
    case 8:
    case 9:
        return true;
    case 14:
        return d.lzma != nullptr;
    case 96:
        return d.jpeg != nullptr;
    case 97:
        return d.wavpack != nullptr;
    case 98:
        return d.ppmd != nullptr;
    default:
        return false;
    }
}

// Puts the decrypting layer between the archive and the decoders.
void setupDecryption(ExtractionState& s)
{
    const char* password = s.settings->password;
    const size_t length = password ? strlen(password) : 0;
    if (length > kSfxMaxPasswordBytes)
        fatal_id(s, kSfxTextWrongPassword);
    // A CryptoAPI record, or AES in a variant without it: no way to decrypt.
    if ((s.entry.flags & kQlEntryCryptoApi) || ((s.entry.flags & kQlEntryAes) && !s.settings->aes))
        fatal_id(s, kSfxTextUnsupportedMethod);

    QlCryptResult result;
    if (s.entry.flags & kQlEntryAes) {
        result = s.settings->aes->begin(&s.archive_input, password, length, s.entry.key_bits,
                                        s.entry.compressed_size);
        s.data_source = s.settings->aes->source();
    } else {
        s.read_place = 14;
        result = s.zip_crypt.begin(&s.archive_input, password, length, s.entry.compressed_size,
                                   crypt_check_byte(s.header.flags, s.header.dos_time, s.header.crc));
        s.data_source = &s.zip_crypt;
    }
    raise_pending(s);
    switch (result) {
    case kQlCryptOk:
        break;
    case kQlCryptWrongPassword:
        fatal_id(s, password ? kSfxTextWrongPassword : kSfxTextNoPassword);
    case kQlCryptReadFailed:
        read_error(s, s.read_place);
    default:
        // Too small for the encryption's own bytes, or an impossible key
        // strength.
        fatal_id(s, kSfxTextBadHeader);
    }
    s.read_place = 2;
}

void extract_entry(ExtractionState& s)
{
    readLocalHeader(s);
    const SfxLocalHeader& h = s.header;
    if (h.name_length > kSfxMaxNameBytes)
        fatal_id(s, kSfxTextNameTooLong);
    read_exact(s, h.name_length, reinterpret_cast<uint8_t*>(s.raw_name));
    decodeName(s);
    if (h.extra_length > 0) {
        s.extra.assign(h.extra_length + 1u, 0);
        read_exact(s, h.extra_length, s.extra.data());
    }
    evaluateExtraField(s);
    s.remaining = s.entry.compressed_size;

    if (isFolderName(s.entry_name)) {
        build_output_path(s, true);
        make_output_folders(s);
        // A folder has no data; whatever an entry carries here is stepped over.
        skipAllEntryData(s);
    } else {
        // Sizes deferred to the descriptor, with zeros here: the stub reads
        // the archive front to back and cannot know them. Only a truly empty
        // entry (its descriptor says so) passes.
        if (s.data_descriptor && s.entry.compressed_size == 0 && s.entry.uncompressed_size == 0) {
            const DataDescriptor d = readDataDescriptor(s);
            if (d.compressed != 0 || d.uncompressed != 0)
                fatal_id(s, kSfxTextBadHeader);
        }
        build_output_path(s, false);
        if (s.entry.compressed_size > 0 && !isSupportedMethod(s))
            fatal_id(s, kSfxTextUnsupportedMethod);
        make_output_folders(s);
        if (!confirm_overwrite(s)) {
            skipAllEntryData(s);
        } else {
            if (s.entry.flags & kSfxEntryEncrypted)
                setupDecryption(s);
            decompress_entry(s);
        }
    }
    s.extra.clear();
    if (s.data_descriptor && !s.descriptor_read)
        readDataDescriptor(s);
}

void extract_entries(ExtractionState& s)
{
    for (;;) {
        uint8_t signature[4];
        readRecord(s, signature, 4, 8, 9);
        if (isSignature(signature, kLocalHeaderTail)) {
            extract_entry(s);
        } else if (isSignature(signature, kSpanTail)) {
            if (!s.settings->spanned)
                fatal_id(s, kSfxTextBadHeader);
        } else if (isSignature(signature, kCentralTail) || isSignature(signature, kEndTail) ||
                   isSignature(signature, kZip64EndTail) || isSignature(signature, kZip64LocatorTail)) {
            // The walk never reads the directory; an archive without
            // entries has nothing else.
            return;
        } else if (isSignature(signature, kSpanZeroTail)) {
            // the marker of a spanned set's first part
        } else if (!s.settings->spanned) {
            fatal_id(s, kSfxTextBadHeader);
        }
    }
}

void startArchive(ExtractionState& s)
{
    const SfxExtractSettings& settings = *s.settings;
    uint64_t start = settings.zip_offset;
    if (settings.spanned) {
        askForDisk(s, 1);
        if (!settings.parts_are_executables)
            start = 0;
    }
    if (s.host->archive_seek(static_cast<int64_t>(start), 0) != static_cast<int64_t>(start))
        fatal_id(s, kSfxTextIoError);
}

void setupBuffers(ExtractionState& s)
{
    s.input.reset(new uint8_t[kSfxBufferSize]);
    s.window_bytes.reset(new uint8_t[kSfxBufferSize]);
    s.window.data = s.window_bytes.get();
    s.window.size = kSfxBlockSize;
    s.window.count = 0;
    s.window.sink = &s.sink;
    s.archive_input.state = &s;
    s.sink.state = &s;
    s.data_source = &s.archive_input;

    // Inflate's window is the decode buffer: one decoder runs at a time.
    uint8_t* window = s.settings->decode_buffer;
    uint32_t window_size = s.settings->decode_buffer_size;
    if (window == nullptr || window_size < kQlInflateMinWindow) {
        s.own_window.reset(new uint8_t[kQlInflateMinWindow]);
        window = s.own_window.get();
        window_size = kQlInflateMinWindow;
    }
    s.inflate.reset(new QlInflateState);
    inflate_setup(s.inflate.get(), window, window_size, s.input.get(), kSfxBlockSize);
}

}  // namespace

SfxMessage read_error_message(const ExtractionState& s, int place)
{
    SfxMessage m;
    m.id = kSfxTextReadError;
    m.text = s.settings->archive_path;
    m.place = place;
    return m;
}

void read_error(ExtractionState& s, int place)
{
    fatal_message(s, read_error_message(s, place));
}

void fatal_message(ExtractionState& s, const SfxMessage& message)
{
    s.host->show_error(message);
    endExtraction(kSfxExtractFailed);
}

void fatal_id(ExtractionState& s, int id, const QlStr& text)
{
    SfxMessage m;
    m.id = id;
    m.text = text;
    fatal_message(s, m);
}

void defer_end(ExtractionState& s, int value, const SfxMessage* message)
{
    if (s.pending.set)
        return;
    s.pending.set = true;
    s.pending.value = value;
    s.pending.show = message != nullptr;
    if (message)
        s.pending.message = *message;
}

void raise_pending(ExtractionState& s)
{
    if (!s.pending.set)
        return;
    if (s.pending.show)
        s.host->show_error(s.pending.message);
    endExtraction(s.pending.value);
}

int32_t SfxEntryInput::fill(uint8_t* buffer, uint32_t capacity)
{
    ExtractionState& s = *state;
    if (s.pending.set)
        return kReadFailed;
    if (s.remaining == 0 || capacity == 0)
        return 0;
    const uint32_t want = s.remaining < capacity ? static_cast<uint32_t>(s.remaining) : capacity;
    int32_t n = s.host->archive_read(buffer, want);
    if (n >= 0 && static_cast<uint32_t>(n) < want && s.settings->spanned) {
        // The part ended inside the entry: the rest is on the next disk.
        if (!s.host->request_disk(static_cast<uint16_t>(s.disk + 1))) {
            defer_end(s, kSfxExtractFailed, nullptr);
            return kReadFailed;
        }
        s.disk = static_cast<uint16_t>(s.disk + 1);
        if (n == 0)
            n = s.host->archive_read(buffer, want);
    } else if (n >= 0 && static_cast<uint32_t>(n) < want) {
        n = -1;
    }
    if (n <= 0) {
        const SfxMessage m = read_error_message(s, s.read_place);
        defer_end(s, kSfxExtractFailed, &m);
        return kReadFailed;
    }
    if (!qlCheck(static_cast<uint32_t>(n) <= want, kSource, kUnzipOverread))
        n = static_cast<int32_t>(want);
    s.remaining -= static_cast<uint32_t>(n);
    return n;
}

uint64_t skip_entry_data(ExtractionState& s)
{
    if (s.remaining == 0)
        return 0;
    const int64_t position = s.host->archive_seek(0, 1);
    const int64_t end = s.host->archive_seek(0, 2);
    if (position < 0 || end < position)
        read_error(s, 2);
    uint64_t taken = static_cast<uint64_t>(end - position);
    if (taken > s.remaining)
        taken = s.remaining;
    if (s.host->archive_seek(position + static_cast<int64_t>(taken), 0) != position + static_cast<int64_t>(taken))
        read_error(s, 2);
    if (taken < s.remaining && taken == 0) {
        if (!s.settings->spanned)
            read_error(s, 2);
        // Nothing of the entry is left on this part: it goes on at the start
        // of the next one.
        askForDisk(s, static_cast<uint16_t>(s.disk + 1));
        const int64_t size = s.host->archive_seek(0, 2);
        if (size < 0)
            read_error(s, 2);
        taken = static_cast<uint64_t>(size) < s.remaining ? static_cast<uint64_t>(size) : s.remaining;
        if (s.host->archive_seek(static_cast<int64_t>(taken), 0) != static_cast<int64_t>(taken))
            read_error(s, 2);
        if (taken == 0)
            read_error(s, 2);
    }
    s.remaining -= taken;
    return taken;
}

int extract_all(const SfxExtractSettings& settings)
{
    g_processed_entries = 0;
    std::unique_ptr<ExtractionState> state(new ExtractionState);
    ExtractionState& s = *state;
    s.settings = &settings;
    s.host = settings.host;
    if (!qlCheck(s.host != nullptr, kSource, kUnzipNoHost))
        return kSfxExtractFailed;
    int result = kSfxExtractDone;
    qlCatch<SfxExtractionEnd>(
        [&] {
            setupBuffers(s);
            startArchive(s);
            extract_entries(s);
        },
        [&](const SfxExtractionEnd& end) { result = end.value; });
    // An entry that failed leaves nothing behind: its file was created for
    // this run and holds unverified bytes.
    if (s.output_open) {
        s.host->close_output(false, 0, 0);
        s.host->delete_output(s.output_name);
        s.output_open = false;
    }
    return result;
}

uint32_t extracted_entry_count()
{
    return g_processed_entries;
}

void count_processed_entry()
{
    ++g_processed_entries;
}
