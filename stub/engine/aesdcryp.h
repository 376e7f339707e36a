// AES decryption of Zip entries (the AES extension of the Zip format, AE-1
// and AE-2): the entry's data is salt, 2-byte password verifier, ciphertext
// and a 10-byte authentication code. Keys come from PBKDF2-HMAC-SHA1 with
// 1000 iterations; the ciphertext is AES in counter mode (little-endian
// counter from 1) and is authenticated with HMAC-SHA1 before decryption.
//
// Pure code: no Windows headers, no global state, no allocation. The context
// belongs to the caller and serves one entry; begin() starts it afresh.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/aes.h"
#include "stub/engine/bytestream.h"
#include "stub/engine/crypt.h"
#include "stub/engine/sha1.h"

enum {
    kQlAesVerifierSize = 2,
    kQlAesCodeSize = 10,
    kQlAesIterations = 1000,
    kQlAesMaxPassword = 128,
};

// Key strength by mode (1, 2, 3 for 128, 192, 256 bits); 0 for other bits.
unsigned aes_mode_for_bits(unsigned key_bits);
unsigned aes_key_length(unsigned mode);
unsigned aes_salt_length(unsigned mode);

// AE-2 entries (vendor version 2) carry CRC 0 and rest on the authentication
// code alone; AE-1 entries, and versions this system does not know, keep
// the CRC check. It applies to that one entry only.
bool aes_entry_checks_crc(uint16_t vendor_version);

struct AesDecryptContext {
    // The encryption part, cleared as a whole at set-up and once the
    // authentication code is computed, so that no key outlives the entry.
    struct Encryption {
        uint8_t counter[kQlAesBlockSize];
        uint8_t keystream[kQlAesBlockSize];
        QlAesKeySchedule schedule;
        QlHmacSha1Context hmac;
        uint32_t position;           // next keystream byte, 16 when used up
        uint32_t password_length;
        uint32_t mode;
    } encryption;
    uint16_t key_bits;
    uint64_t remaining;              // ciphertext bytes still to come
    uint8_t password_matches;
    uint8_t authentic;
    uint8_t authentication_done;
};

// Derives the AES key, the HMAC key and the verifier into `context`.
// Returns 0, -100 for a password longer than 128 bytes, -101 for a mode
// outside 1-3.
int aes_derive_keys(unsigned mode, const uint8_t* password, size_t length, const uint8_t* salt,
                    uint8_t verifier[kQlAesVerifierSize], AesDecryptContext* context);
// Counter-mode keystream over `buffer` in place; the position carries over
// between calls.
void aes_ctr_crypt(AesDecryptContext* context, uint8_t* buffer, size_t length);
// Authenticates, then decrypts, ciphertext in place.
void aes_decrypt_data(uint8_t* buffer, size_t length, AesDecryptContext* context);
// The first 10 bytes of the HMAC; clears the encryption part. Returns 10.
int aes_hmac_finish(uint8_t out[kQlAesCodeSize], AesDecryptContext* context);

// One AES entry as a byte source: reads the entry's raw bytes from `archive`
// (never past the ciphertext, so that the authentication code never reaches
// a decoder) and hands them on decrypted.
class QlAesDecryptSource : public QlByteSource {
public:
    // Sets the entry up: refuses key bits other than 128/192/256 and a
    // compressed size below salt + verifier + code (kQlCryptDamaged, before
    // reading anything), a missing password (kQlCryptWrongPassword), a short
    // salt or verifier (kQlCryptReadFailed) and a verifier that differs
    // (kQlCryptWrongPassword). `password` is null when none was given.
    QlCryptResult begin(QlByteSource* archive, const char* password, size_t password_length,
                        unsigned key_bits, uint64_t compressed_size);

    uint64_t remaining() const { return context_.remaining; }

    int32_t fill(uint8_t* buffer, uint32_t capacity) override;

    // After the data: reads the stored code and compares. kQlCryptOk, or
    // kQlCryptUnauthentic (also when ciphertext is left unread or the entry
    // was never set up), or kQlCryptReadFailed when the code cannot be read.
    // Later calls answer the same.
    QlCryptResult check_authentication();

private:
    QlByteSource* archive_ = nullptr;
    AesDecryptContext context_ = {};
    QlCryptResult final_result_ = kQlCryptUnauthentic;
};
