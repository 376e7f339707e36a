// Before the stub shows anything: it checks that its file is whole and
// unchanged, allocates the engine's buffers, reads its eight configuration
// strings and checks the archive's end record. Every offset of the header
// record is checked against the file size before it is used: the record is
// input like any other.
#include <windows.h>

#include <cstring>
#include <new>

#include "builder/crc32.h"
#include "builder/sfxconfig.h"
#include "common/QlBytes.h"
#include "stub/engine/inflate.h"
#include "stub/qlutil.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

namespace {

constexpr uint32_t kDecodeBufferSize = 0x100000;
constexpr uint32_t kStreamBufferSize = 28692;
// The inflated block: room for every block a builder writes, and more.
constexpr uint32_t kConfigUnits = 2304;

constexpr uint32_t kPeLfanew = 60;
constexpr uint32_t kPeHeadersSize = 248;
constexpr uint32_t kPeEntryPoint = 40;

void build_signatures()
{
    static const uint8_t kTails[6][3] = {
        {'K', 3, 4}, {'K', 1, 2}, {'K', 5, 6}, {'K', 5, 5}, {'K', '0', '0'}, {'K', 7, 8},
    };
    for (int i = 0; i < 6; ++i) {
        g_sfx.signatures[i][0] = 'P';
        if (std::memcpy(g_sfx.signatures[i] + 1, kTails[i], 3) != g_sfx.signatures[i] + 1)
            internal_error(kSfxHeadSource, kSfxLineSignature + i);
    }
}

// Reads exactly count bytes at offset of the archive.
bool read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t count)
{
    if (util_lseek(file, static_cast<int64_t>(offset), 0) != static_cast<int64_t>(offset))
        return false;
    return util_read(file, buffer, count) == static_cast<int32_t>(count);
}

uint8_t* alloc_zeroed(uint32_t size)
{
    return static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size));
}

void free_buffer(uint8_t*& buffer)
{
    if (buffer != nullptr)
        LocalFree(buffer);
    buffer = nullptr;
}

void ask_for_first_disk()
{
    // Disk prompts come with the spanning support; a single file is disk 1.
}

}  // namespace

// The shared sfx_head_crc is not used here: it finds the record by the layout's
// eyecatcher constant, which would put a second copy of the eyecatcher into
// the image. The stub searches with the bytes of its own template instead.
void check_stub_crc(uint32_t length, uint32_t expected, const uint8_t eyecatcher[8])
{
    if (length < kSfxHeaderSize || length > g_sfx.archive_size)
        sfx_fatal(IDS_HEADER_CORRUPT);
    uint8_t* head = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, length));
    if (head == nullptr)
        sfx_fatal(IDS_HEADER_CORRUPT);
    if (!read_at(g_sfx.archive, 0, head, length)) {
        LocalFree(head);
        sfx_fatal(IDS_HEADER_CORRUPT);
    }
    size_t record = SIZE_MAX;
    for (size_t at = 0; at + 8 <= length; ++at) {
        if (head[at] == eyecatcher[0] && std::memcmp(head + at, eyecatcher, 8) == 0) {
            record = at;
            break;
        }
    }
    uint32_t start = 0;
    bool good = record != SIZE_MAX && record + kSfxHeaderSize <= length;
    if (good) {
        std::memset(head + record + kSfxCrcFieldOffset, 0, 4);
        if (g_sfx.header.flags & kSfxFlagPeSection) {
            uint32_t nt = length >= 64 ? qlLoad32(head + kPeLfanew) : UINT32_MAX;
            good = nt <= length && length - nt >= kPeHeadersSize;
            start = good ? nt + kPeHeadersSize : 0;
        }
    }
    good = good && crc32_update(0, head + start, length - start) == expected;
    LocalFree(head);
    if (!good)
        sfx_fatal(IDS_HEADER_CORRUPT);
}

void read_config_block()
{
    uint32_t offset = 0, length = 0;
    switch (sfx_config_span(g_sfx.header, &offset, &length)) {
    case SfxConfigSpan::None:
        return;
    case SfxConfigSpan::Bad:
        sfx_fatal(IDS_HEADER_CORRUPT);
    case SfxConfigSpan::Block:
        break;
    }
    if (g_sfx.spanned)
        ask_for_first_disk();
    if (length == 0 || static_cast<uint64_t>(offset) + length > g_sfx.archive_size)
        sfx_fatal(IDS_HEADER_CORRUPT);
    uint8_t block[kSfxConfigMaxBlockSize];
    if (!read_at(g_sfx.archive, offset, block, length))
        sfx_fatal(IDS_HEADER_CORRUPT);

    QlInflateState* inflate = new QlInflateState;
    inflate_setup(inflate, g_sfx.decode_buffer, kDecodeBufferSize, g_sfx.input_buffer,
                  kStreamBufferSize);
    uint8_t* text = g_sfx.output_buffer;  // kConfigUnits * 2 bytes fit
    uint32_t produced = 0;
    int result = inflate_to_memory(inflate, kQlDeflate, block, length, text,
                                   kConfigUnits * 2, &produced);
    delete inflate;
    // One of the texts is a command that gets run: a block that does not
    // inflate cleanly into exactly eight strings is never used.
    SfxConfigField fields[kSfxConfigFieldCount];
    if (result != kQlDecodeOk ||
        split_config_fields(text, produced, fields) != SfxConfigStatus::Ok)
        sfx_fatal(IDS_HEADER_CORRUPT);

    bool titled = (g_sfx.header.flags & kSfxFlagTitle) != 0;
    // The block inflated into an aligned buffer, and Windows is little-endian:
    // its units are the texts' own.
    for (int i = 0; i < kSfxConfigStrings; ++i)
        g_sfx.config[i] = QlStr(reinterpret_cast<const QlChar*>(fields[i].units),
                                static_cast<int>(fields[i].length));
    std::memset(text, 0, kConfigUnits * 2);
    // The title counts only when the builder said it gave one.
    if (!titled)
        g_sfx.config[5] = QlStr();
#if QL_SFX_INSTALL
    if (!g_sfx.config[6].HasText())
        g_sfx.config[6] = QlStr();
#else
    if (!g_sfx.config[4].HasText())
        g_sfx.config[4] = QlStr();
#endif
    g_sfx.program_icon = LoadIconW(g_sfx.instance, MAKEINTRESOURCEW(1));
#if QL_SFX_INSTALL
    // The path of the file the user started, not that of the copy, which is
    // gone when the command looks for it.
    if (g_sfx.header.flags & kSfxFlagPassArgv0) {
        g_sfx.config[2].AppendText(L" -argv0 ");
        g_sfx.config[2].Append(g_sfx.original_path);
    }
#endif
}

bool init_archive()
{
    build_signatures();
    g_sfx.archive = util_open(g_sfx.own_path, kUtilBinary, kUtilDenyWrite);
    if (g_sfx.archive == INVALID_HANDLE_VALUE)
        sfx_fatal(IDS_HEADER_CORRUPT);
    int64_t size = util_lseek(g_sfx.archive, 0, 2);
    if (size < 0 || util_lseek(g_sfx.archive, 0, 0) != 0)
        sfx_fatal(IDS_HEADER_CORRUPT);
    g_sfx.archive_size = static_cast<uint64_t>(size);

    const SfxHeader& header = g_sfx.header;
    if (header.crc32 != 0) {
        uint8_t eyecatcher[8];
        sfx_own_eyecatcher(eyecatcher);
        check_stub_crc(header.archive_offset, header.crc32, eyecatcher);
    }
    g_sfx.spanned = (header.flags & kSfxFlagSpanning) != 0;
    g_sfx.zip_on_first_disk = (header.flags & kSfxFlagZipOnFirstDisk) != 0;

    g_sfx.decode_buffer = alloc_zeroed(kDecodeBufferSize);
    g_sfx.input_buffer = alloc_zeroed(kStreamBufferSize);
    g_sfx.output_buffer = alloc_zeroed(kStreamBufferSize);
    if (g_sfx.decode_buffer == nullptr || g_sfx.input_buffer == nullptr ||
        g_sfx.output_buffer == nullptr)
        sfx_fatal(IDS_HEADER_CORRUPT);
    static_assert(kConfigUnits * 2 <= kStreamBufferSize, "the texts inflate into a stream buffer");

    if (g_sfx.spanned)
        ask_for_first_disk();
    read_config_block();

    if (!g_sfx.spanned && header.end_record_offset != 0) {
        uint8_t signature[4];
        if (static_cast<uint64_t>(header.end_record_offset) + 4 > g_sfx.archive_size ||
            !read_at(g_sfx.archive, header.end_record_offset, signature, 4) ||
            (std::memcmp(signature, g_sfx.signatures[2], 4) != 0 &&
             std::memcmp(signature, g_sfx.signatures[3], 4) != 0))
            sfx_fatal(IDS_DAMAGED);
    }
    return true;
}

bool check_pe_entry_point()
{
    HANDLE file = util_open(g_sfx.own_path, kUtilBinary, kUtilDenyNone);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    uint8_t dos[64];
    uint8_t nt[kPeHeadersSize];
    bool good = read_at(file, 0, dos, sizeof dos);
    uint32_t lfanew = good ? qlLoad32(dos + kPeLfanew) : 0;
    good = good && static_cast<uint64_t>(lfanew) + kPeHeadersSize <= g_sfx.archive_size &&
           read_at(file, lfanew, nt, sizeof nt) && nt[0] == 'P' && nt[1] == 'E' &&
           qlLoad32(nt + kPeEntryPoint) == g_sfx.header.entry_point;
    util_close(file);
    return good;
}

void shutdown_archive()
{
    free_buffer(g_sfx.decode_buffer);
    free_buffer(g_sfx.input_buffer);
    free_buffer(g_sfx.output_buffer);
    if (g_sfx.archive != INVALID_HANDLE_VALUE)
        util_close(g_sfx.archive);
    g_sfx.archive = INVALID_HANDLE_VALUE;
}
