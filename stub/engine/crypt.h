// Traditional Zip decryption (the cipher of the published Zip format: three
// 32-bit keys driven by CRC-32 and a linear congruence), and the decrypting
// layer that sits between the archive's byte source and the decoders.
//
// Pure code: no Windows headers, no global state, no allocation. The keys
// live in the caller's per-entry state, from the header check of one entry
// to its last data byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/bytestream.h"

// Results of the per-entry set-up and checks of both encryption schemes.
enum QlCryptResult {
    kQlCryptOk = 0,
    kQlCryptWrongPassword = 1,   // check byte or verifier differs, or no password: 1005/1006
    kQlCryptDamaged = 2,         // the compressed size cannot hold the encryption's own bytes
    kQlCryptReadFailed = 3,      // the archive ended or failed inside those bytes (place code 14)
    kQlCryptUnauthentic = 4,     // the authentication code differs, or data was left: 1067
};

enum {
    kQlCryptHeaderSize = 12,
};

// Lines named in the internal-error reports of the crypt and aesdcryp sources.
enum QlCryptLine {
    kCryptOverfill = 101,        // the archive stored more than it was asked for
};

struct QlZipCryptKeys {
    uint32_t key[3];
};

void crypt_init_keys(QlZipCryptKeys* keys, const char* password, size_t length);
void crypt_update_keys(QlZipCryptKeys* keys, uint8_t plain);
// The keystream byte for the next cipher byte (the keys are not moved).
uint8_t crypt_decrypt_byte(const QlZipCryptKeys* keys);
// Decrypts in place, moving the keys with each plain byte.
void crypt_decrypt(QlZipCryptKeys* keys, uint8_t* data, size_t length);

// What the last header byte must decrypt to: the high byte of the local
// header's DOS time when the sizes follow the data (general-purpose bit 3),
// else the high byte of its CRC-32.
uint8_t crypt_check_byte(uint16_t flags, uint16_t dos_time, uint32_t crc);

// Decrypts the 12-byte header with keys already set from the password.
// Returns 0 when its last byte is `check_byte`, else -1.
int crypt_check_header(QlZipCryptKeys* keys, const uint8_t header[kQlCryptHeaderSize], uint8_t check_byte);

// One traditionally encrypted entry as a byte source: reads the entry's raw
// bytes from `archive` (never past the entry's compressed size) and hands
// them on decrypted.
class QlZipCryptSource : public QlByteSource {
public:
    // Sets the entry up: refuses a compressed size below the header
    // (kQlCryptDamaged, before reading anything), a missing password
    // (kQlCryptWrongPassword, before reading anything), a short header
    // (kQlCryptReadFailed) and a check byte that differs
    // (kQlCryptWrongPassword). `password` is null when none was given.
    QlCryptResult begin(QlByteSource* archive, const char* password, size_t password_length,
                        uint64_t compressed_size, uint8_t check_byte);

    // The entry's data bytes left, decrypted by the following fills.
    uint64_t remaining() const { return remaining_; }

    int32_t fill(uint8_t* buffer, uint32_t capacity) override;

private:
    QlByteSource* archive_ = nullptr;
    QlZipCryptKeys keys_ = {};
    uint64_t remaining_ = 0;
};

// Reads exactly `size` bytes from `source` (which may deliver in pieces).
// Returns false when it ends or fails first.
bool crypt_read_exact(QlByteSource* source, uint8_t* out, uint32_t size);
