#include "stub/engine/Qlextra.h"

#include <cstring>

#include "common/QlBytes.h"
#include "common/QlHooks.h"
#include "common/QlRaise.h"

namespace {
const char kSource[] = "Qlextra";

uint8_t* put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    return p + 2;
}

uint8_t* put32(uint8_t* p, uint32_t v)
{
    return put16(put16(p, uint16_t(v)), uint16_t(v >> 16));
}

uint8_t* put64(uint8_t* p, uint64_t v)
{
    return put32(put32(p, uint32_t(v)), uint32_t(v >> 32));
}

uint8_t* copyOf(const uint8_t* data, size_t size)
{
    if (size == 0)
        return nullptr;
    uint8_t* copy = new uint8_t[size];
    memcpy(copy, data, size);
    return copy;
}

// A constructor meant for another header ID is wrong use: reported, and the
// bytes then stay generic.
void requireId(uint16_t id, uint16_t expected)
{
    if (!qlCheck(id == expected, kSource, kExtraWrongId))
        qlRaise(QlGenericExtraData());
}

// CRC-32 (reflected 0xEDB88320, initial value all ones, final complement);
// only names go through it, so no table.
uint32_t crc32Of(const char* text, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint8_t(text[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}
}

// --- base

uint8_t* QlExtraType::WriteHead(uint8_t* buffer, size_t n, uint16_t id, uint16_t size)
{
    if (buffer == nullptr || n < size_t(size) + 4)
        return nullptr;
    return put16(put16(buffer, id), size);
}

// --- generic

QlExtraGeneric::QlExtraGeneric(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraType(id, size), m_data(copyOf(data, size))
{
}

QlExtraGeneric::~QlExtraGeneric()
{
    delete[] m_data;
}

uint8_t* QlExtraGeneric::Write(uint8_t* buffer, size_t n) const
{
    uint8_t* p = WriteHead(buffer, n, HeaderId(), DataSize());
    if (p == nullptr)
        return nullptr;
    if (DataSize() > 0)
        memcpy(p, m_data, DataSize());
    return p + DataSize();
}

// --- Zip64

QlExtraZip64::QlExtraZip64(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraType(id, size), m_count(0), m_values(), m_disk(0), m_hasDisk(false)
{
    requireId(id, kQlExtraIdZip64);
    if (size % 4 != 0 || size > 28)
        qlRaise(QlBadExtraData(size));
    m_count = size / 8;
    for (int i = 0; i < m_count; ++i)
        m_values[i] = qlLoad64(data + 8 * i);
    if (size % 8 != 0) {
        m_hasDisk = true;
        m_disk = qlLoad32(data + 8 * m_count);
    }
}

uint64_t QlExtraZip64::Value(int index) const
{
    if (!qlCheck(index >= 0 && index <= 2, kSource, kExtraValueIndex))
        return 0;
    return index < m_count ? m_values[index] : 0;
}

uint8_t* QlExtraZip64::Write(uint8_t* buffer, size_t n) const
{
    uint16_t size = uint16_t(m_count * 8 + (m_hasDisk ? 4 : 0));
    uint8_t* p = WriteHead(buffer, n, HeaderId(), size);
    if (p == nullptr)
        return nullptr;
    for (int i = 0; i < m_count; ++i)
        p = put64(p, m_values[i]);
    if (m_hasDisk)
        p = put32(p, m_disk);
    return p;
}

// --- NTFS times

QlExtraWin32Attr::QlExtraWin32Attr(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraType(id, size), m_lastWrite(0), m_lastAccess(0), m_creation(0), m_further(nullptr),
      m_furtherLength(0)
{
    requireId(id, kQlExtraIdNtfs);
    if (size < 32)
        qlRaise(QlGenericExtraData());
    // The reserved word and the tag at +0..+7 are not examined.
    m_lastWrite = qlLoad64(data + 8);
    m_lastAccess = qlLoad64(data + 16);
    m_creation = qlLoad64(data + 24);
    m_furtherLength = uint16_t(size - 32);
    m_further = copyOf(data + 32, m_furtherLength);
}

QlExtraWin32Attr::~QlExtraWin32Attr()
{
    delete[] m_further;
}

uint8_t* QlExtraWin32Attr::Write(uint8_t* buffer, size_t n) const
{
    if (DataSize() != 32 + m_furtherLength)
        return nullptr;
    uint8_t* p = WriteHead(buffer, n, HeaderId(), DataSize());
    if (p == nullptr)
        return nullptr;
    p = put32(p, 0);
    p = put16(p, 1);
    p = put16(p, 24);
    p = put64(p, m_lastWrite);
    p = put64(p, m_lastAccess);
    p = put64(p, m_creation);
    if (m_furtherLength > 0)
        memcpy(p, m_further, m_furtherLength);
    return p + m_furtherLength;
}

// --- Unicode path and comment

QlExtraUnicodeText::QlExtraUnicodeText(uint16_t expectedId, uint16_t id, const uint8_t* data,
                                       uint16_t size)
    : QlExtraType(id, size), m_text(QlStr::CtorNull()), m_crc(0)
{
    requireId(id, expectedId);
    if (size <= 5 || data[0] != 1)
        qlRaise(QlGenericExtraData());
    m_crc = qlLoad32(data + 1);
    m_text = QlStr(reinterpret_cast<const char*>(data + 5), size - 5, 3);
}

bool QlExtraUnicodeText::MatchesStored(const char* stored, size_t length) const
{
    return stored != nullptr && crc32Of(stored, length) == m_crc;
}

uint8_t* QlExtraUnicodeText::Write(uint8_t* buffer, size_t n) const
{
    int utf8 = m_text.Utf8Length();
    if (utf8 < 0 || DataSize() != utf8 + 5)
        return nullptr;
    uint8_t* p = WriteHead(buffer, n, HeaderId(), DataSize());
    if (p == nullptr)
        return nullptr;
    *p++ = 1;
    p = put32(p, m_crc);
    memcpy(p, m_text.ToUtf8Static(), size_t(utf8));
    return p + utf8;
}

// --- encryption records

QlExtraCrypt::QlExtraCrypt(uint16_t id, uint16_t size, uint16_t version, const char vendor[2])
    : QlExtraType(id, size), m_version(version), m_vendor{vendor[0], vendor[1]}, m_method(0),
      m_keyBits(0)
{
}

namespace {
// Version and vendor of a 0x9901 record of at least 4 bytes.
bool cryptHeadIs(const uint8_t* data, uint16_t size, const char* vendor, uint16_t lowVersion,
                 uint16_t highVersion)
{
    uint16_t version = qlLoad16(data);
    return size > 3 && version >= lowVersion && version <= highVersion && data[2] == vendor[0]
           && data[3] == vendor[1];
}
}

QlExtraAesCrypt::QlExtraAesCrypt(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraCrypt(id, size, size > 1 ? qlLoad16(data) : 0, "AE")
{
    requireId(id, kQlExtraIdCrypt);
    if (size <= 3 || !cryptHeadIs(data, size, "AE", 1, 2))
        qlRaise(QlGenericExtraData());
    if (size != 7)
        qlRaise(QlBadExtraData(size));
    switch (data[4]) {
    case 1: m_keyBits = 128; break;
    case 2: m_keyBits = 192; break;
    case 3: m_keyBits = 256; break;
    default: qlRaise(QlBadExtraData(7));
    }
    m_method = qlLoad16(data + 5);
}

uint8_t* QlExtraAesCrypt::Write(uint8_t* buffer, size_t n) const
{
    uint8_t strength;
    switch (m_keyBits) {
    case 128: strength = 1; break;
    case 192: strength = 2; break;
    case 256: strength = 3; break;
    default:
        qlHostAssert(kSource, kExtraKeyBits);
        return nullptr;
    }
    uint8_t* p = WriteHead(buffer, n, HeaderId(), 7);
    if (p == nullptr)
        return nullptr;
    p = put16(p, m_version);
    *p++ = uint8_t(m_vendor[0]);
    *p++ = uint8_t(m_vendor[1]);
    *p++ = strength;
    return put16(p, m_method);
}

QlExtraCryptoAPI::QlExtraCryptoAPI(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraCrypt(id, size, size > 1 ? qlLoad16(data) : 0, "QL"), m_value3(0), m_value4(0)
{
    requireId(id, kQlExtraIdCrypt);
    if (size <= 3)
        qlRaise(QlBadExtraData(size));
    if (!cryptHeadIs(data, size, "QL", 1, 1))
        qlRaise(QlGenericExtraData());
    if (size != 12)
        qlRaise(QlBadExtraData(size));
    m_keyBits = qlLoad16(data + 4);
    m_method = qlLoad16(data + 6);
    m_value3 = qlLoad16(data + 8);
    m_value4 = qlLoad16(data + 10);
}

uint8_t* QlExtraCryptoAPI::Write(uint8_t* buffer, size_t n) const
{
    uint8_t* p = WriteHead(buffer, n, HeaderId(), 12);
    if (p == nullptr)
        return nullptr;
    p = put16(p, m_version);
    *p++ = uint8_t(m_vendor[0]);
    *p++ = uint8_t(m_vendor[1]);
    p = put16(p, m_keyBits);
    p = put16(p, m_method);
    p = put16(p, m_value3);
    return put16(p, m_value4);
}

// --- strong-encryption header

QlExtraPKCrypt::QlExtraPKCrypt(uint16_t id, const uint8_t* data, uint16_t size)
    : QlExtraType(id, size)
{
    requireId(id, kQlExtraIdStrongCrypt);
    if (size <= 7)
        qlRaise(QlBadExtraData(size));
    if (qlLoad16(data) != 2)
        qlRaise(QlGenericExtraData());
    m_format = qlLoad16(data);
    m_algorithm = qlLoad16(data + 2);
    m_bitLength = qlLoad16(data + 4);
    m_flags = qlLoad16(data + 6);
    m_furtherLength = uint16_t(size - 8);
    m_further = copyOf(data + 8, m_furtherLength);
}

QlExtraPKCrypt::~QlExtraPKCrypt()
{
    delete[] m_further;
}

uint8_t* QlExtraPKCrypt::Write(uint8_t* buffer, size_t n) const
{
    uint8_t* p = WriteHead(buffer, n, HeaderId(), uint16_t(8 + m_furtherLength));
    if (p == nullptr)
        return nullptr;
    p = put16(p, m_format);
    p = put16(p, m_algorithm);
    p = put16(p, m_bitLength);
    p = put16(p, m_flags);
    if (m_furtherLength > 0)
        memcpy(p, m_further, m_furtherLength);
    return p + m_furtherLength;
}

// --- the list

namespace {
QlExtraType* makeObject(uint16_t id, const uint8_t* data, uint16_t size)
{
    switch (id) {
    case kQlExtraIdZip64: return qlNew<QlExtraZip64>(id, data, size);
    case kQlExtraIdNtfs: return qlNew<QlExtraWin32Attr>(id, data, size);
    case kQlExtraIdStrongCrypt: return qlNew<QlExtraPKCrypt>(id, data, size);
    case kQlExtraIdUnicodeComment: return qlNew<QlExtraUnicodeComment>(id, data, size);
    case kQlExtraIdUnicodePath: return qlNew<QlExtraUnicodeFilename>(id, data, size);
    case kQlExtraIdCrypt: {
        QlExtraType* made = nullptr;
        qlCatch<QlGenericExtraData>([&] { made = qlNew<QlExtraAesCrypt>(id, data, size); },
                                    [&](const QlGenericExtraData&) {
                                        made = qlNew<QlExtraCryptoAPI>(id, data, size);
                                    });
        return made;
    }
    default: return new QlExtraGeneric(id, data, size);
    }
}
}

QlExtraList::QlExtraList(const uint8_t* area, size_t length)
    : m_head(nullptr), m_tail(nullptr), m_cursor(nullptr), m_count(0)
{
    if (area == nullptr)
        return;
    size_t offset = 0;
    // Out of memory while parsing: nothing half-built stays behind.
    qlUnwinding([&] {
        // A run that ends inside a sub-field ends the walk; sizes are
        // compared with what is left, never added past the area.
        while (length - offset >= 4) {
            const uint8_t* head = area + offset;
            uint16_t id = qlLoad16(head);
            uint16_t size = qlLoad16(head + 2);
            if (length - offset - 4 < size)
                break;
            const uint8_t* data = head + 4;
            qlCatch<QlBadExtraData>(
                [&] {
                    qlCatch<QlGenericExtraData>(
                        [&] { Append(makeObject(id, data, size)); },
                        [&](const QlGenericExtraData&) {
                            Append(new QlExtraGeneric(id, data, size));
                        });
                },
                [](const QlBadExtraData&) {
                    // Skipped. The bad value is the data size here in every
                    // case, so the walk steps over exactly this sub-field.
                });
            offset += size_t(size) + 4;
        }
    }, [&] { Free(); });
}

QlExtraList::~QlExtraList()
{
    Free();
}

void QlExtraList::Free()
{
    while (m_head != nullptr) {
        QlExtraType* next = m_head->m_next;
        delete m_head;
        m_head = next;
    }
    m_tail = m_cursor = nullptr;
    m_count = 0;
}

void QlExtraList::Append(QlExtraType* object)
{
    if (m_tail != nullptr)
        m_tail->m_next = object;
    else
        m_head = object;
    m_tail = object;
    ++m_count;
}

QlExtraType* QlExtraList::First()
{
    m_cursor = m_head;
    return m_cursor;
}

QlExtraType* QlExtraList::Next()
{
    if (m_cursor != nullptr)
        m_cursor = m_cursor->m_next;
    return m_cursor;
}

// --- evaluation for one entry

namespace {
const uint32_t kZip64Marker = 0xFFFFFFFFu;

// A name that holds a NUL would be checked whole but opened only up to the
// NUL; one longer than the output buffer would not fit it.
bool isUsableName(const QlStr& name)
{
    if (name.IsNull() || name.Length() == 0 || name.Length() > kQlExtraMaxNameUnits)
        return false;
    for (int i = 0; i < name.Length(); ++i)
        if (name.Text()[i] == 0)
            return false;
    return true;
}
}

QlExtraApplyResult apply_extra_fields(QlExtraList& list, QlExtraEntryFacts& facts)
{
    QlExtraApplyResult result = kQlExtraApplied;
    uint64_t uncompressed = facts.headerUncompressed;
    uint64_t compressed = facts.headerCompressed;

    for (QlExtraType* object = list.First(); object != nullptr; object = list.Next()) {
        switch (object->HeaderId()) {
        case kQlExtraIdZip64: {
            auto* zip64 = dynamic_cast<QlExtraZip64*>(object);
            if (zip64 == nullptr)
                break;
            // The record holds a value only for each header size that is
            // 0xFFFFFFFF, in field order; a marker without its value keeps
            // the header's number.
            int next = 0;
            if (facts.headerUncompressed == kZip64Marker && next < zip64->Count())
                uncompressed = zip64->Value(next++);
            if (facts.headerCompressed == kZip64Marker && next < zip64->Count())
                compressed = zip64->Value(next++);
            break;
        }
        case kQlExtraIdCrypt: {
            auto* crypt = dynamic_cast<QlExtraCrypt*>(object);
            if (crypt == nullptr || facts.method != 99 || !facts.encrypted)
                break;
            if (crypt->IsVendor("QL") && crypt->Version() == 1) {
                auto* api = static_cast<QlExtraCryptoAPI*>(crypt);
                facts.realMethod = api->GetMethod();
                facts.keyBits = api->GetKeyBits();
                facts.cryptoValue3 = api->Value3();
                facts.cryptoValue4 = api->Value4();
                facts.flags = (facts.flags | kQlEntryCryptoApi) & ~(kQlEntryAes | kQlEntryAesVersion2);
                facts.hasCryptRecord = true;
            } else if (crypt->IsVendor("AE") && (crypt->Version() == 1 || crypt->Version() == 2)) {
                facts.realMethod = crypt->GetMethod();
                facts.keyBits = crypt->GetKeyBits();
                facts.flags = (facts.flags & ~(kQlEntryCryptoApi | kQlEntryAesVersion2)) | kQlEntryAes;
                if (crypt->Version() == 2)
                    facts.flags |= kQlEntryAesVersion2;
                facts.hasCryptRecord = true;
            }
            break;
        }
        case kQlExtraIdUnicodePath: {
            auto* path = dynamic_cast<QlExtraUnicodeFilename*>(object);
            if (path != nullptr && path->MatchesStored(facts.storedName, facts.storedNameLength)
                && isUsableName(path->GetName())) {
                facts.unicodeName = path->GetName();
                facts.hasUnicodeName = true;
            }
            break;
        }
        default:
            // NTFS times, strong encryption, comments and the rest are not used.
            break;
        }
    }

    // A size of 2^32 or more is refused, never cut to its low half.
    if (uncompressed > 0xFFFFFFFFu || compressed > 0xFFFFFFFFu) {
        result = kQlExtraSizeTooLarge;
        uncompressed = facts.headerUncompressed;
        compressed = facts.headerCompressed;
    }
    facts.uncompressedSize = uncompressed;
    facts.compressedSize = compressed;
    // With a data descriptor the walk goes by the local header's sizes.
    if (facts.dataDescriptor) {
        facts.uncompressedSize = facts.headerUncompressed;
        facts.compressedSize = facts.headerCompressed;
    }
    return result;
}
