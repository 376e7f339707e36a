// The extraction of one entry: its output path and folders, the overwrite
// question, the output file, the method's decoder between the entry's byte
// source and the output sink, and the checks of size, authentication code
// and CRC-32 before the file is kept.
//
// Every byte handed on passes write_output, which refuses any byte beyond
// the recorded uncompressed size, so that a lying header cannot fill the
// disk. The file of an entry that fails is deleted (extract_all).
#include <cstring>

#include "builder/crc32.h"
#include "common/QlHooks.h"
#include "common/QlRaise.h"
#include "common/dostime.h"
#include "common/zipname.h"
#include "stub/engine/unzipstate.h"
#include "stub/engine/Qlextra.h"

namespace {

const char kSource[] = "extract";

enum ExtractLine {
    kExtractEmptyHandover = 60,   // a decoder handed on no bytes, or a null buffer
};

const uint32_t kDecodeBufferSize = 1u << 20;
const int kMaxPathUnits = 260;
// An AES entry's data besides its ciphertext: the salt (key bits / 16), the
// password verifier and the authentication code.
const uint32_t kAesVerifierAndCode = 2 + 10;

bool isSeparator(QlChar c)
{
    return c == QL('\\') || c == QL('/');
}

uint32_t meterPercent(const ExtractionState& s)
{
    const uint64_t total = s.settings->total_size;
    if (total == 0)
        return 100;
    const uint64_t percent = s.bytes_done * 100 / total;
    return percent > 100 ? 100 : static_cast<uint32_t>(percent);
}

SfxMessage textMessage(int id, const QlStr& text)
{
    SfxMessage m;
    m.id = id;
    m.text = text;
    return m;
}

// The bytes that reach the decoder: the compressed size less what the
// encryption keeps for itself.
uint64_t dataSize(const ExtractionState& s)
{
    if (!(s.entry.flags & kSfxEntryEncrypted))
        return s.entry.compressed_size;
    if (s.entry.flags & kQlEntryAes)
        return s.entry.compressed_size - (s.entry.key_bits / 16 + kAesVerifierAndCode);
    return s.zip_crypt.remaining();
}

void copyStored(ExtractionState& s)
{
    for (;;) {
        const uint32_t n = refill_input(s);
        if (n == 0 || output_window_put(&s.window, s.input.get(), n) != 0)
            break;
    }
    raise_pending(s);
}

int runBlockDecoder(ExtractionState& s, SfxDecodeFunction decode)
{
    SfxDecodeJob job;
    job.source = s.data_source;
    job.sink = &s.sink;
    job.compressed_size = dataSize(s);
    job.uncompressed_size = s.entry.uncompressed_size;
    job.flags = s.header.flags;
    job.buffer = s.settings->decode_buffer;
    job.buffer_size = s.settings->decode_buffer_size;
    if (job.buffer == nullptr) {
        if (!s.own_decode_buffer)
            s.own_decode_buffer.reset(new uint8_t[kDecodeBufferSize]);
        job.buffer = s.own_decode_buffer.get();
        job.buffer_size = kDecodeBufferSize;
    }
    const int result = decode(job);
    // The user's abort comes back as the decoder's result, whose message
    // says so; any other failure on the way shows its own.
    if (s.pending.set && s.pending.user_abort) {
        s.pending = SfxPendingEnd();
        return kQlDecodeAborted;
    }
    raise_pending(s);
    return result;
}

// Runs the method's decoder over the entry. The walk has refused methods
// without a decoder before the file was created.
void decode(ExtractionState& s)
{
    const SfxDecoders& d = s.settings->decoders;
    SfxDecodeFunction block = nullptr;
    int phrase = 0;
    switch (s.method) {
    case 0:
        copyStored(s);
        return;
    case 8:
    case 9:
        // The result is not examined: damaged data shows in the size or CRC
        // check.
        inflate_data(s.inflate.get(), s.method == 9 ? kQlDeflate64 : kQlDeflate, s.data_source, &s.window);
        raise_pending(s);
        return;
    case 14:
        block = d.lzma;
        phrase = kSfxTextPhraseLzma;
        break;
    case 96:
        block = d.jpeg;
        phrase = kSfxTextPhraseJpeg;
        break;
    case 97:
        block = d.wavpack;
        phrase = kSfxTextPhraseWavPack;
        break;
    case 98:
        block = d.ppmd;
        break;
    default:
        break;
    }
    if (block == nullptr)
        fatal_id(s, kSfxTextUnsupportedMethod);
    const int result = runBlockDecoder(s, block);
    if (result == 0)
        return;
    if (s.method != 98)
        decoder_error(s, result, phrase);
    SfxMessage m;
    m.id = kSfxTextPpmdError;
    m.numbers[0] = result;
    fatal_message(s, m);
}

}  // namespace

uint32_t update_crc32(uint32_t crc, const uint8_t* data, uint32_t count)
{
    // The register is the complement of a finished CRC.
    return ~crc32_update(~crc, data, count);
}

uint32_t refill_input(ExtractionState& s)
{
    const int32_t n = s.data_source->fill(s.input.get(), kSfxBlockSize);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

namespace {

bool meter_in_use(const ExtractionState& s)
{
    const SfxExtractSettings& settings = *s.settings;
    return settings.live_meter_in_use != nullptr ? *settings.live_meter_in_use : settings.meter_in_use;
}

}  // namespace

void show_meter(ExtractionState& s)
{
    if (!s.settings->silent && meter_in_use(s))
        s.host->show_progress(meterPercent(s));
}

void defer_message(ExtractionState& s, const SfxMessage& m)
{
    defer_end(s, kSfxExtractFailed, &m);
}

int check_write(ExtractionState& s, uint32_t written, uint32_t expected)
{
    if (written != expected) {
        defer_message(s, textMessage(kSfxTextWriteError, s.output_name));
        return kQlDecodeInvalid;
    }
    if (s.host->poll_user_abort()) {
        // Stored and Deflate data end here without a further box; a block
        // decoder hands the abort back as its result (runBlockDecoder).
        defer_end(s, kSfxExtractFailed, nullptr);
        s.pending.user_abort = true;
        return kQlDecodeAborted;
    }
    return 0;
}

int write_output(ExtractionState& s, const uint8_t* data, uint32_t count, bool meter_step)
{
    if (s.pending.set)
        return kQlDecodeAborted;
    if (data == nullptr || count == 0) {
        qlHostAssert(kSource, kExtractEmptyHandover);
        return count == 0 ? 0 : kQlDecodeInvalid;
    }
    // Never more than the header recorded: a lying header must not fill the
    // disk.
    if (s.total_written > s.entry.uncompressed_size || count > s.entry.uncompressed_size - s.total_written) {
        SfxMessage m = textMessage(kSfxTextSizeMismatch, s.output_name);
        m.numbers[0] = static_cast<int64_t>(s.total_written + count);
        m.numbers[1] = static_cast<int64_t>(s.entry.uncompressed_size);
        defer_message(s, m);
        return kQlDecodeBadData;
    }
    if (meter_step) {
        s.bytes_done += count;
        if (s.bytes_done >= s.bytes_at_last_step + kSfxMeterStep) {
            s.bytes_at_last_step = s.bytes_done;
            show_meter(s);
        }
    }
    s.crc = update_crc32(s.crc, data, count);
    const uint32_t written = s.host->write_output(data, count);
    s.total_written += written < count ? written : count;
    return check_write(s, written, count);
}

int SfxEntrySink::take(const uint8_t* data, uint32_t count)
{
    return write_output(*state, data, count, true);
}

void decoder_error(ExtractionState& s, int code, int phrase)
{
    const bool encrypted = (s.entry.flags & kSfxEntryEncrypted) != 0;
    SfxMessage m;
    m.phrase = phrase;
    switch (code) {
    case kQlDecodeAborted:
        m.id = kSfxTextUnzipAborted;
        break;
    case kQlDecodeNoMemory:
        m.id = kSfxTextNoMemory;
        break;
    case kQlDecodeUnknownHeader:
        m.id = encrypted ? kSfxTextUnknownHeaderOrPassword : kSfxTextUnknownHeader;
        break;
    default:
        m.id = encrypted ? kSfxTextInvalidDataOrPassword : kSfxTextInvalidData;
        break;
    }
    fatal_message(s, m);
}

void build_output_path(ExtractionState& s, bool folder_entry)
{
    const QlStr& name = s.entry_name;
    const QlStr& folder = s.settings->unzip_folder;
    QlStr out;
    if (folder.HasText()) {
        out = folder;
        if (!isSeparator(folder.LastChar()))
            out.AppendChar(QL('\\'));
    }
    out.Append(name);
    out.ReplaceChar(QL('/'), QL('\\'));
    if (folder_entry && out.LastChar() != QL('\\'))
        out.AppendChar(QL('\\'));
    s.output_name = out;
    // Nothing is written for a name that would leave the Unzip To folder, or
    // that Windows would open as something else than a file of that name.
    if (qlZipNameCheck(name.Text(), name.Length()) != kQlZipNameOk || out.Length() >= kMaxPathUnits)
        fatal_id(s, folder_entry ? kSfxTextCantCreateFolder : kSfxTextCantCreate, out);
}

void make_output_folders(ExtractionState& s)
{
    const QlStr& path = s.output_name;
    const QlChar* t = path.Text();
    const int length = path.Length();
    // The root of the path is not created: a drive, a share, or "\".
    int i = 0;
    if (length >= 2 && t[1] == QL(':')) {
        i = 2;
    } else if (length >= 2 && isSeparator(t[0]) && isSeparator(t[1])) {
        i = 2;
        while (i < length && !isSeparator(t[i]))
            ++i;
        if (i < length)
            ++i;
        while (i < length && !isSeparator(t[i]))
            ++i;
    }
    if (i < length && isSeparator(t[i]))
        ++i;
    for (; i < length; ++i) {
        if (t[i] != QL('\\') || isSeparator(t[i - 1]))
            continue;
        const QlStr folder(t, i);
        const SfxPathKind kind = s.host->path_kind(folder);
        if (kind == kSfxPathFolder)
            continue;
        if (kind == kSfxPathFile || !s.host->create_folder(folder))
            fatal_id(s, kSfxTextCantCreateFolder, folder);
    }
}

bool confirm_overwrite(ExtractionState& s)
{
    // Only a file is asked about; a folder of that name fails at creation.
    if (s.settings->overwrite_all || s.host->path_kind(s.output_name) != kSfxPathFile)
        return true;
    show_meter(s);
    switch (s.host->ask(textMessage(kSfxTextAskOverwrite, s.output_name))) {
    case kSfxAnswerYes:
        return true;
    case kSfxAnswerNo:
        return false;
    default:
        qlRaise(SfxExtractionEnd{kSfxExtractCancelled});
    }
}

void create_output_file(ExtractionState& s)
{
    if (!s.host->create_output(s.output_name))
        fatal_id(s, kSfxTextCantCreate, s.output_name);
    s.output_open = true;
}

void set_output_file_time(ExtractionState& s)
{
    const QlDosDateTime clamped = QlDosDateTime(s.header.dos_date, s.header.dos_time).Clamped();
    s.output_open = false;
    s.host->close_output(true, clamped.Date(), clamped.Time());
}

void decompress_entry(ExtractionState& s)
{
    s.total_written = 0;
    s.window.count = 0;
    s.crc = kCrc32Preset;
    create_output_file(s);
    if (s.entry.compressed_size > 0) {
        if (!s.settings->silent && !meter_in_use(s))
            s.host->show_unzipping(s.output_name);
        decode(s);
    }
    count_processed_entry();
    if (s.window.count > 0) {
        const uint32_t count = s.window.count;
        s.window.count = 0;
        write_output(s, s.window.data, count, false);
        raise_pending(s);
    }
    const bool aes = (s.entry.flags & kQlEntryAes) != 0;
    // A decoder may stop before the entry's end; the walk goes on behind it.
    // AES keeps its code there, and counts leftover ciphertext as tampering.
    if (!aes)
        while (skip_entry_data(s) > 0) {
        }

    if (s.total_written != s.entry.uncompressed_size) {
        SfxMessage m = textMessage(kSfxTextSizeMismatch, s.output_name);
        m.numbers[0] = static_cast<int64_t>(s.total_written);
        m.numbers[1] = static_cast<int64_t>(s.entry.uncompressed_size);
        fatal_message(s, m);
    }
    if (aes) {
        const QlCryptResult authentic = s.settings->aes->check_authentication();
        raise_pending(s);
        if (authentic != kQlCryptOk)
            fatal_id(s, kSfxTextUnauthentic);
    }
    // AE-2 rests on the code alone, for this entry only.
    const uint32_t crc = ~s.crc;
    if (!(s.entry.flags & kQlEntryAesVersion2) && crc != s.header.crc)
        fatal_id(s, kSfxTextBadCrc, s.output_name);
    set_output_file_time(s);
}
