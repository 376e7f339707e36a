// The record loop over an input Zip archive.
#include "builder/zipscan.h"

#include <cstring>
#include <vector>

#include "common/zipname.h"

namespace {

const size_t kMaxName = 200;
const uint16_t kFlagEncrypted = 0x1;
const uint16_t kFlagDeferred = 0x8;
const uint16_t kFlagUtf8 = 0x800;
const uint16_t kAesFieldId = 0x9901;
const uint16_t kZip64FieldId = 0x0001;
const uint16_t kMethodAes = 99;

bool read_exact(ZipScanInput& in, uint8_t* buffer, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        int32_t n = in.read(buffer + done, count - done);
        if (n <= 0)
            return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

bool skip(ZipScanInput& in, uint64_t count)
{
    return in.seek(in.position() + count);
}

bool equals_no_case(const QlChar* a, int length, const char* b)
{
    int n = static_cast<int>(strlen(b));
    if (n != length)
        return false;
    for (int i = 0; i < n; ++i) {
        QlChar c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<QlChar>(c - 'A' + 'a');
        if (c != static_cast<QlChar>(b[i]))
            return false;
    }
    return true;
}

// Reads an extra field of `length` bytes and hands every whole field in it
// to visit(id, data, size); the first fault ends the walk.
template <class Visit>
ZipScanFault read_extra_fields(ZipScanInput& in, uint16_t length, Visit visit)
{
    if (length == 0)
        return kZipScanOk;
    std::vector<uint8_t> extra(length);
    if (!read_exact(in, extra.data(), length))
        return kZipScanReadError;
    for (size_t at = 0; at + 4 <= length;) {
        uint16_t size = zip_get16(&extra[at + 2]);
        if (at + 4 + size > length)
            break;
        if (ZipScanFault f = visit(zip_get16(&extra[at]), &extra[at + 4], size))
            return f;
        at += 4 + size;
    }
    return kZipScanOk;
}

class Scanner {
public:
    Scanner(ZipScanInput& in, const ZipScanSettings& settings, ZipScanResult* result)
        : m_in(in), m_settings(settings), m_result(result)
    {
    }

    ZipScanFault run()
    {
        for (;;) {
            uint8_t sig[4];
            if (!read_exact(m_in, sig, 4))
                return kZipScanReadError;
            switch (zip_get32(sig)) {
            case kZipLocalSig:
                if (ZipScanFault f = local_header())
                    return f;
                break;
            case kZipCentralSig:
                if (ZipScanFault f = central_header())
                    return f;
                break;
            case kZipEndSig:
            case kZipSpannedEndSig:
                return end_record();
            case kZipDescriptorSig:
                return kZipScanSpanned;
            case kZipSplitMarker:
                break;
            case kZip64EndSig:
            case kZip64LocatorSig:
                return kZipScanZip64;
            default:
                return kZipScanUnknownRecord;
            }
        }
    }

private:
    ZipScanFault read_name(size_t length, uint16_t flags, QlChar* wide, int* wide_length)
    {
        if (length > kMaxName)
            return kZipScanNameTooLong;
        uint8_t name[kMaxName + 1];
        if (!read_exact(m_in, name, static_cast<uint32_t>(length)))
            return kZipScanReadError;
        name[length] = 0;
        return check_entry_name(name, length, (flags & kFlagUtf8) != 0, wide, wide_length);
    }

    ZipScanFault local_header()
    {
        uint8_t h[26];
        if (!read_exact(m_in, h, 26))
            return kZipScanReadError;
        uint16_t flags = zip_get16(h + 2);
        uint16_t method = zip_get16(h + 4);
        uint32_t compressed = zip_get32(h + 14);
        uint32_t uncompressed = zip_get32(h + 18);
        uint16_t extra_length = zip_get16(h + 24);
        QlChar wide[kMaxName + 1];
        int wide_length = 0;
        if (ZipScanFault f = read_name(zip_get16(h + 22), flags, wide, &wide_length))
            return f;
        if ((equals_no_case(wide, wide_length, "setup.exe") ||
             equals_no_case(wide, wide_length, "install.exe")) &&
            m_result->setup_entry[0] == 0) {
            memcpy(m_result->setup_entry, wide, wide_length * sizeof(QlChar));
            m_result->setup_entry[wide_length] = 0;
        }
        if (equals_no_case(wide, wide_length, "_isdel.exe"))
            m_result->has_isdel_entry = true;
        if (equals_no_case(wide, wide_length, "setup.ins"))
            m_result->has_setup_ins_entry = true;
        if (!m_settings.no_questions && m_settings.is_dos_name &&
            !m_settings.is_dos_name(wide, wide_length))
            m_result->has_long_names = true;
        m_result->total_size += uncompressed;

        ZipScanFault extra = read_extra_fields(m_in, extra_length, [&](uint16_t id, const uint8_t* data, uint16_t size) {
            if (id == kAesFieldId && size == 7 && (flags & kFlagEncrypted) && method == kMethodAes) {
                uint16_t vendor_version = zip_get16(data);
                if (vendor_version == 1 || vendor_version == 2) {
                    method = zip_get16(data + 5);
                    m_result->feature_mask |= kZipFeatureAes;
                }
            }
            return id == kZip64FieldId ? kZipScanZip64 : kZipScanOk;
        });
        if (extra != kZipScanOk)
            return extra;

        if ((flags & kFlagDeferred) && compressed == 0) {
            if (ZipScanFault f = find_descriptor())
                return f;
        } else if (compressed == 0 && uncompressed != 0) {
            return kZipScanNoHeader;
        } else if (!skip(m_in, compressed)) {
            return kZipScanReadError;
        }
        // The descriptor: CRC and both sizes, behind a signature that some
        // writers leave out.
        if (flags & kFlagDeferred) {
            uint8_t first[4];
            if (!read_exact(m_in, first, 4) || !skip(m_in, zip_get32(first) == kZipDescriptorSig ? 12 : 8))
                return kZipScanReadError;
        }

        switch (method) {
        case 0:
        case 8:
        case 9:
            break;
        case 14: m_result->feature_mask |= 0x24; break;
        case 96: m_result->feature_mask |= 0x30; break;
        case 97: m_result->feature_mask |= 0x28; break;
        case 98: m_result->feature_mask |= 0x22; break;
        default:
            return kZipScanUnsupported;
        }
        return kZipScanOk;
    }

    // The data of an entry with deferred sizes is read through until a
    // descriptor signature whose compressed size equals the bytes before it;
    // chunks overlap by 12 bytes so a descriptor across an edge is found.
    ZipScanFault find_descriptor()
    {
        uint8_t* buffer = m_settings.work;
        uint32_t size = m_settings.work_size;
        if (buffer == nullptr || size < 64)
            return kZipScanReadError;
        uint64_t start = m_in.position();
        uint64_t scanned = 0;
        for (;;) {
            int32_t n = m_in.read(buffer, size);
            if (n <= 0)
                return kZipScanReadError;
            uint32_t got = static_cast<uint32_t>(n);
            for (uint32_t o = 0; o + 12 <= got; ++o) {
                if (zip_get32(buffer + o) == kZipDescriptorSig &&
                    zip_get32(buffer + o + 8) == static_cast<uint32_t>(scanned + o))
                    return m_in.seek(start + scanned + o) ? kZipScanOk : kZipScanReadError;
            }
            if (got <= 12) {
                // Too little left to hold a descriptor.
                return kZipScanReadError;
            }
            scanned += got - 12;
            if (!m_in.seek(start + scanned))
                return kZipScanReadError;
        }
    }

    ZipScanFault central_header()
    {
        uint8_t h[42];
        if (!read_exact(m_in, h, 42))
            return kZipScanReadError;
        uint16_t flags = zip_get16(h + 4);
        uint16_t extra_length = zip_get16(h + 26);
        uint16_t comment_length = zip_get16(h + 28);
        QlChar wide[kMaxName + 1];
        int wide_length = 0;
        if (ZipScanFault f = read_name(zip_get16(h + 24), flags, wide, &wide_length))
            return f;
        // Only real Zip64 evidence refuses the archive: the version needed
        // alone does not (AES entries carry 51).
        if (zip_get32(h + 16) == 0xFFFFFFFFu || zip_get32(h + 20) == 0xFFFFFFFFu ||
            zip_get32(h + 38) == 0xFFFFFFFFu || zip_get16(h + 30) == 0xFFFF)
            return kZipScanZip64;
        ZipScanFault extra = read_extra_fields(m_in, extra_length, [](uint16_t id, const uint8_t*, uint16_t) {
            return id == kZip64FieldId ? kZipScanZip64 : kZipScanOk;
        });
        if (extra != kZipScanOk)
            return extra;
        if (!skip(m_in, comment_length))
            return kZipScanReadError;
        if (flags & kFlagEncrypted)
            m_result->has_encrypted_entries = true;
        if (zip_get16(h + 30) != 0)
            return kZipScanNotDisk0;
        return kZipScanOk;
    }

    ZipScanFault end_record()
    {
        uint64_t at = m_in.position() - 4;
        uint8_t e[18];
        if (!read_exact(m_in, e, 18))
            return kZipScanReadError;
        if (at > 0xFFFFFFFFu || zip_get16(e + 4) == 0xFFFF || zip_get32(e + 12) == 0xFFFFFFFFu)
            return kZipScanZip64;
        m_result->end_record_offset = static_cast<uint32_t>(at);
        return skip(m_in, zip_get16(e + 16)) ? kZipScanOk : kZipScanReadError;
    }

    ZipScanInput& m_in;
    const ZipScanSettings& m_settings;
    ZipScanResult* m_result;
};

}  // namespace

ZipScanFault check_entry_name(const uint8_t* name, size_t length, bool utf8, QlChar* wide,
                              int* wide_length)
{
    *wide_length = 0;
    wide[0] = 0;
    if (length > kMaxName)
        return kZipScanNameTooLong;
    if (length == 0)
        return kZipScanOk;
    // The name the stub will write: the same conversion.
    QlStr decoded = qlZipNameDecode(reinterpret_cast<const char*>(name), static_cast<int>(length), utf8);
    if (decoded.Length() > static_cast<int>(kMaxName) ||
        qlZipNameCheck(decoded.Text(), decoded.Length()) != kQlZipNameOk)
        return kZipScanInvalidName;
    memcpy(wide, decoded.Text(), decoded.Length() * sizeof(QlChar));
    *wide_length = decoded.Length();
    wide[*wide_length] = 0;
    return kZipScanOk;
}

ZipScanFault scan_zip_archive(ZipScanInput& input, const ZipScanSettings& settings,
                              ZipScanResult* result)
{
    return Scanner(input, settings, result).run();
}

int64_t find_end_record(const uint8_t* tail, size_t tail_size, uint64_t file_size)
{
    if (tail_size < 22 || tail_size > file_size)
        return -1;
    uint64_t tail_start = file_size - tail_size;
    for (size_t at = tail_size - 22 + 1; at-- > 0;) {
        uint32_t sig = zip_get32(tail + at);
        if (sig != kZipEndSig && sig != kZipSpannedEndSig)
            continue;
        const uint8_t* e = tail + at;
        uint64_t record = tail_start + at;
        if (record + 22 + zip_get16(e + 20) != file_size)
            continue;
        uint64_t directory_end = static_cast<uint64_t>(zip_get32(e + 16)) + zip_get32(e + 12);
        if (directory_end > record)
            continue;
        return static_cast<int64_t>(record);
    }
    return -1;
}

ZipCommentFault append_zip_comment(ZipCommentFile& file, const uint8_t* comment, uint16_t size,
                                   ZipCommentPlace* place)
{
    uint64_t file_size = file.size();
    size_t tail_size = static_cast<size_t>(file_size < kZipEndSearchSize ? file_size : kZipEndSearchSize);
    std::vector<uint8_t> tail(tail_size);
    int64_t record = -1;
    if (tail_size >= 22 && file.read_at(file_size - tail_size, tail.data(), static_cast<uint32_t>(tail_size)))
        record = find_end_record(tail.data(), tail_size, file_size);
    if (record < 0)
        return ZipCommentFault::NoEndRecord;
    const uint64_t at = static_cast<uint64_t>(record) + 22;
    uint8_t length[2];
    zip_put16(length, size);
    if ((size > 0 && !file.write_at(at, comment, size)) || !file.cut(at + size) ||
        !file.write_at(static_cast<uint64_t>(record) + 20, length, 2))
        return ZipCommentFault::WriteFailed;
    place->offset = static_cast<uint32_t>(at);
    uint32_t lines = 0, longest = 0, run = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (comment[i] == '\n') {
            ++lines;
            if (run > longest)
                longest = run;
            run = 0;
        } else {
            ++run;
        }
    }
    place->lines = static_cast<uint8_t>(lines > 255 ? 255 : lines);
    place->longest_line = static_cast<uint8_t>(longest > 255 ? 255 : longest);
    return ZipCommentFault::Ok;
}

uint64_t largest_zip_for_stub(uint32_t stub_size)
{
    const uint64_t kLimit = 2000000000ull;
    const uint64_t kRoom = 262144;
    uint64_t taken = static_cast<uint64_t>(stub_size) + kRoom;
    return taken >= kLimit ? 0 : kLimit - taken;
}
