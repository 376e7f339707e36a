// The extra-field objects: one object per sub-field of a local header's extra
// field (header ID u16, data size u16, data), parsed into a list, and the
// evaluation of that list for the current entry.
//
// Pure code: no Windows headers. Hostile input is the normal case here: every
// length is checked against the sub-field and the area, a malformed sub-field
// becomes a generic object or is skipped, and nothing is read outside the
// area. Only wrong use by the caller is reported (source "Qlextra").
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/QlString.h"

// Header IDs.
enum QlExtraId : uint16_t {
    kQlExtraIdZip64 = 0x0001,
    kQlExtraIdNtfs = 0x000A,
    kQlExtraIdStrongCrypt = 0x0017,
    kQlExtraIdUnicodeComment = 0x6375,
    kQlExtraIdUnicodePath = 0x7075,
    kQlExtraIdCrypt = 0x9901,
};

// Lines named in the reports of the Qlextra source.
enum QlExtraLine {
    kExtraWrongId = 40,       // a constructor called for another header ID
    kExtraValueIndex = 120,   // a Zip64 value index beyond 2
    kExtraKeyBits = 300,      // AES key bits other than 128, 192 or 256 when writing
};

// The sub-field is not the kind the constructor expects.
class QlGenericExtraData {};
// The sub-field is the expected kind, but a size or strength is impossible.
class QlBadExtraData {
public:
    explicit QlBadExtraData(int value) : m_value(value) {}
    int Value() const { return m_value; }

private:
    int m_value;
};

class QlExtraType {
public:
    QlExtraType(uint16_t id, uint16_t size) : m_id(id), m_size(size), m_next(nullptr) {}
    virtual ~QlExtraType() {}
    // Writes ID, size and data; the end pointer, or null when `n` bytes do not
    // hold the sub-field or the object cannot be written as it stands.
    virtual uint8_t* Write(uint8_t* buffer, size_t n) const = 0;

    uint16_t HeaderId() const { return m_id; }
    uint16_t DataSize() const { return m_size; }

protected:
    // Writes the 4-byte header when `n` holds it and the data after it.
    static uint8_t* WriteHead(uint8_t* buffer, size_t n, uint16_t id, uint16_t size);

private:
    friend class QlExtraList;
    QlExtraType(const QlExtraType&) = delete;
    QlExtraType& operator=(const QlExtraType&) = delete;

    uint16_t m_id;
    uint16_t m_size;
    QlExtraType* m_next;  // the list's chain
};

// Any other ID, and any known ID whose data is not of its kind: the bytes.
class QlExtraGeneric : public QlExtraType {
public:
    QlExtraGeneric(uint16_t id, const uint8_t* data, uint16_t size);
    ~QlExtraGeneric() override;
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    const uint8_t* Data() const { return m_data; }

private:
    uint8_t* m_data;
};

// 0x0001: up to three 64-bit values in field order (uncompressed size,
// compressed size, local-header offset, as far as present), then perhaps
// the disk number.
class QlExtraZip64 : public QlExtraType {
public:
    QlExtraZip64(uint16_t id, const uint8_t* data, uint16_t size);
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    int Count() const { return m_count; }
    // Value 0-2; 0 for one that is not present. Another index is reported.
    uint64_t Value(int index) const;
    bool HasDiskNumber() const { return m_hasDisk; }
    uint32_t DiskNumber() const { return m_disk; }

private:
    int m_count;
    uint64_t m_values[3];
    uint32_t m_disk;
    bool m_hasDisk;
};

// 0x000A: NTFS times (parsed, never applied), and any bytes after the
// 32-byte standard part.
class QlExtraWin32Attr : public QlExtraType {
public:
    QlExtraWin32Attr(uint16_t id, const uint8_t* data, uint16_t size);
    ~QlExtraWin32Attr() override;
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    uint64_t LastWriteTime() const { return m_lastWrite; }
    uint64_t LastAccessTime() const { return m_lastAccess; }
    uint64_t CreationTime() const { return m_creation; }
    const uint8_t* Further() const { return m_further; }
    uint16_t FurtherLength() const { return m_furtherLength; }

private:
    uint64_t m_lastWrite, m_lastAccess, m_creation;
    uint8_t* m_further;
    uint16_t m_furtherLength;
};

// 0x7075 and 0x6375: a UTF-8 text with the CRC-32 of the stored text it
// stands for.
class QlExtraUnicodeText : public QlExtraType {
public:
    QlExtraUnicodeText(uint16_t expectedId, uint16_t id, const uint8_t* data, uint16_t size);
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    const QlStr& GetName() const { return m_text; }
    uint32_t Crc() const { return m_crc; }
    // The recorded CRC is that of `stored` (the raw bytes of the header).
    bool MatchesStored(const char* stored, size_t length) const;

private:
    QlStr m_text;
    uint32_t m_crc;
};

class QlExtraUnicodeFilename : public QlExtraUnicodeText {
public:
    QlExtraUnicodeFilename(uint16_t id, const uint8_t* data, uint16_t size)
        : QlExtraUnicodeText(kQlExtraIdUnicodePath, id, data, size) {}
};

class QlExtraUnicodeComment : public QlExtraUnicodeText {
public:
    QlExtraUnicodeComment(uint16_t id, const uint8_t* data, uint16_t size)
        : QlExtraUnicodeText(kQlExtraIdUnicodeComment, id, data, size) {}
};

// 0x9901: the encryption record, of the "AE" or the "QL" kind.
class QlExtraCrypt : public QlExtraType {
public:
    QlExtraCrypt(uint16_t id, uint16_t size, uint16_t version, const char vendor[2]);
    virtual uint16_t GetMethod() const { return m_method; }
    virtual void SetMethod(uint16_t method) { m_method = method; }
    virtual uint16_t GetKeyBits() const { return m_keyBits; }
    virtual void SetKeyBits(uint16_t bits) { m_keyBits = bits; }
    uint16_t Version() const { return m_version; }
    bool IsVendor(const char* vendor) const
    {
        return m_vendor[0] == vendor[0] && m_vendor[1] == vendor[1];
    }

protected:
    uint16_t m_version;
    char m_vendor[2];
    uint16_t m_method;
    uint16_t m_keyBits;
};

class QlExtraAesCrypt : public QlExtraCrypt {
public:
    QlExtraAesCrypt(uint16_t id, const uint8_t* data, uint16_t size);
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
};

class QlExtraCryptoAPI : public QlExtraCrypt {
public:
    QlExtraCryptoAPI(uint16_t id, const uint8_t* data, uint16_t size);
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    uint16_t Value3() const { return m_value3; }
    uint16_t Value4() const { return m_value4; }

private:
    uint16_t m_value3, m_value4;
};

// 0x0017: the strong-encryption header.
class QlExtraPKCrypt : public QlExtraType {
public:
    QlExtraPKCrypt(uint16_t id, const uint8_t* data, uint16_t size);
    ~QlExtraPKCrypt() override;
    uint8_t* Write(uint8_t* buffer, size_t n) const override;
    uint16_t Format() const { return m_format; }
    uint16_t AlgorithmId() const { return m_algorithm; }
    uint16_t BitLength() const { return m_bitLength; }
    uint16_t Flags() const { return m_flags; }
    const uint8_t* Further() const { return m_further; }
    uint16_t FurtherLength() const { return m_furtherLength; }

private:
    uint16_t m_format = 2, m_algorithm = 0x660E, m_bitLength = 128, m_flags = 1;
    uint8_t* m_further = nullptr;
    uint16_t m_furtherLength = 0;
};

// The objects of one extra-field area in field order; owns them.
class QlExtraList {
public:
    QlExtraList(const uint8_t* area, size_t length);
    ~QlExtraList();
    QlExtraType* First();
    QlExtraType* Next();  // null at the end
    int Count() const { return m_count; }

private:
    QlExtraList(const QlExtraList&) = delete;
    QlExtraList& operator=(const QlExtraList&) = delete;
    void Append(QlExtraType* object);
    void Free();

    QlExtraType* m_head;
    QlExtraType* m_tail;
    QlExtraType* m_cursor;
    int m_count;
};

// The longest entry name the output buffer holds, in UTF-16 units.
const int kQlExtraMaxNameUnits = 3120;

// Entry flag bits that the 0x9901 record sets.
enum QlExtraEntryFlag : uint32_t {
    kQlEntryAes = 0x100,
    kQlEntryAesVersion2 = 0x400,
    kQlEntryCryptoApi = 0x1000,
};

// What the walk hands the evaluation and what it takes back, for one entry.
// Start every entry from a fresh record: nothing may carry over.
struct QlExtraEntryFacts {
    // --- from the local header
    uint32_t headerUncompressed = 0;
    uint32_t headerCompressed = 0;
    uint16_t method = 0;
    bool encrypted = false;
    bool dataDescriptor = false;
    const char* storedName = nullptr;  // the raw name bytes
    size_t storedNameLength = 0;

    // --- the evaluation's answers
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint32_t flags = 0;               // QlExtraEntryFlag bits
    bool hasCryptRecord = false;      // a usable 0x9901 record was applied
    uint16_t realMethod = 0;
    uint16_t keyBits = 0;
    uint32_t cryptoValue3 = 0, cryptoValue4 = 0;
    bool hasUnicodeName = false;
    QlStr unicodeName;
};

enum QlExtraApplyResult {
    kQlExtraApplied = 0,
    kQlExtraSizeTooLarge = 1,  // a Zip64 size of 2^32 or more: refuse the entry
};

// Reads the Zip64 sizes, the 0x9901 record and the Unicode path into `facts`.
QlExtraApplyResult apply_extra_fields(QlExtraList& list, QlExtraEntryFacts& facts);
