// Traditional Zip decryption.
#include "stub/engine/crypt.h"

#include <cstring>

#include "builder/crc32.h"
#include "common/QlHooks.h"

namespace {
const char kSource[] = "crypt";
}  // namespace

void crypt_init_keys(QlZipCryptKeys* keys, const char* password, size_t length)
{
    keys->key[0] = 0x12345678;
    keys->key[1] = 0x23456789;
    keys->key[2] = 0x34567890;
    for (size_t i = 0; i < length; ++i)
        crypt_update_keys(keys, static_cast<uint8_t>(password[i]));
}

void crypt_update_keys(QlZipCryptKeys* keys, uint8_t plain)
{
    keys->key[0] = crc32_step(keys->key[0], plain);
    keys->key[1] = (keys->key[1] + (keys->key[0] & 0xFF)) * 134775813u + 1;
    keys->key[2] = crc32_step(keys->key[2], static_cast<uint8_t>(keys->key[1] >> 24));
}

uint8_t crypt_decrypt_byte(const QlZipCryptKeys* keys)
{
    const uint32_t t = (keys->key[2] | 2) & 0xFFFF;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void crypt_decrypt(QlZipCryptKeys* keys, uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        data[i] ^= crypt_decrypt_byte(keys);
        crypt_update_keys(keys, data[i]);
    }
}

uint8_t crypt_check_byte(uint16_t flags, uint16_t dos_time, uint32_t crc)
{
    return (flags & 0x0008) ? static_cast<uint8_t>(dos_time >> 8) : static_cast<uint8_t>(crc >> 24);
}

int crypt_check_header(QlZipCryptKeys* keys, const uint8_t header[kQlCryptHeaderSize], uint8_t check_byte)
{
    uint8_t plain[kQlCryptHeaderSize];
    memcpy(plain, header, sizeof plain);
    crypt_decrypt(keys, plain, sizeof plain);
    return plain[kQlCryptHeaderSize - 1] == check_byte ? 0 : -1;
}

bool crypt_read_exact(QlByteSource* source, uint8_t* out, uint32_t size)
{
    while (size > 0) {
        const int32_t n = source->fill(out, size);
        if (n <= 0 || static_cast<uint32_t>(n) > size)
            return false;
        out += n;
        size -= static_cast<uint32_t>(n);
    }
    return true;
}

QlCryptResult QlZipCryptSource::begin(QlByteSource* archive, const char* password, size_t password_length,
                                      uint64_t compressed_size, uint8_t check_byte)
{
    archive_ = archive;
    remaining_ = 0;
    // The header is part of the compressed size: a smaller size is a damaged
    // entry, and must not wrap the count of data bytes.
    if (compressed_size < kQlCryptHeaderSize)
        return kQlCryptDamaged;
    if (!password)
        return kQlCryptWrongPassword;
    uint8_t header[kQlCryptHeaderSize];
    if (!crypt_read_exact(archive, header, sizeof header))
        return kQlCryptReadFailed;
    crypt_init_keys(&keys_, password, password_length);
    if (crypt_check_header(&keys_, header, check_byte) != 0)
        return kQlCryptWrongPassword;
    remaining_ = compressed_size - kQlCryptHeaderSize;
    return kQlCryptOk;
}

int32_t QlZipCryptSource::fill(uint8_t* buffer, uint32_t capacity)
{
    if (remaining_ == 0 || !archive_)
        return 0;
    const uint32_t want = remaining_ < capacity ? static_cast<uint32_t>(remaining_) : capacity;
    const int32_t n = archive_->fill(buffer, want);
    if (n <= 0)
        return n;
    // A source that stores more than asked for breaks the entry's count.
    qlCheck(static_cast<uint32_t>(n) <= want, kSource, kCryptOverfill);
    const uint32_t got = static_cast<uint32_t>(n) < want ? static_cast<uint32_t>(n) : want;
    crypt_decrypt(&keys_, buffer, got);
    remaining_ -= got;
    return static_cast<int32_t>(got);
}
