// SHA-1 (FIPS 180-1), HMAC-SHA1 (RFC 2104) and PBKDF2-HMAC-SHA1 (RFC 2898),
// which the AES decryption of Zip entries needs for its keys and its
// authentication code.
//
// Pure code: no Windows headers, no global state, no allocation. Every
// context belongs to the caller; the AES context embeds its HMAC context.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    kQlSha1DigestSize = 20,
    kQlSha1BlockSize = 64,
};

struct QlSha1Context {
    uint32_t count[2];           // bytes hashed so far, low word first
    uint32_t state[5];           // chaining values
    uint8_t block[kQlSha1BlockSize];
};

void sha1_init(QlSha1Context* sha);
void sha1_update(QlSha1Context* sha, const void* data, size_t length);
void sha1_final(QlSha1Context* sha, uint8_t digest[kQlSha1DigestSize]);
// One 64-byte block into the chaining values; the byte count is the caller's.
void sha1_compress(QlSha1Context* sha, const uint8_t block[kQlSha1BlockSize]);

// The key position counts the key bytes given so far; this value marks a
// finished key, after which only data may follow.
const uint32_t kQlHmacKeyFinished = 0xFFFFFFFFu;

struct QlHmacSha1Context {
    uint8_t key[kQlSha1BlockSize];   // the key, then its inner pad
    QlSha1Context sha;               // hashes a long key, then the inner data
    uint32_t key_position;
};

void hmac_sha1_begin(QlHmacSha1Context* hmac);
// Adds key bytes. Returns 0, or -1 (changing nothing) once the key is finished.
int hmac_sha1_key(const uint8_t* key, size_t length, QlHmacSha1Context* hmac);
// The first call finishes the key.
void hmac_sha1_data(const uint8_t* data, size_t length, QlHmacSha1Context* hmac);
// Writes the first `n` (at most 20) bytes of the HMAC; the context is spent.
void hmac_sha1_end(uint8_t* out, size_t n, QlHmacSha1Context* hmac);

void pbkdf2_hmac_sha1(const uint8_t* password, size_t password_length, const uint8_t* salt,
                      size_t salt_length, uint32_t iterations, uint8_t* out, size_t out_length);
