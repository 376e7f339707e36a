// AES decryption of Zip entries.
#include "stub/engine/aesdcryp.h"

#include <cstring>

#include "common/QlHooks.h"
#include "stub/engine/cryptopaths.h"

namespace {
const char kSource[] = "aesdcryp";
}  // namespace

unsigned aes_mode_for_bits(unsigned key_bits)
{
    switch (key_bits) {
    case 128:
        return 1;
    case 192:
        return 2;
    case 256:
        return 3;
    default:
        return 0;
    }
}

unsigned aes_key_length(unsigned mode)
{
    return mode >= 1 && mode <= 3 ? 8 + 8 * mode : 0;
}

unsigned aes_salt_length(unsigned mode)
{
    return mode >= 1 && mode <= 3 ? 4 + 4 * mode : 0;
}

bool aes_entry_checks_crc(uint16_t vendor_version)
{
    return vendor_version != 2;
}

int aes_derive_keys(unsigned mode, const uint8_t* password, size_t length, const uint8_t* salt,
                    uint8_t verifier[kQlAesVerifierSize], AesDecryptContext* context)
{
    if (length > kQlAesMaxPassword)
        return -100;
    if (mode < 1 || mode > 3)
        return -101;
    AesDecryptContext::Encryption* e = &context->encryption;
    e->mode = mode;
    e->password_length = static_cast<uint32_t>(length);
    const unsigned key_length = aes_key_length(mode);
    uint8_t derived[2 * 32 + kQlAesVerifierSize];
    pbkdf2_hmac_sha1(password, length, salt, aes_salt_length(mode), kQlAesIterations, derived,
                     2 * key_length + kQlAesVerifierSize);
    memset(e->counter, 0, sizeof e->counter);
    e->position = kQlAesBlockSize;
    aes_expand_key(derived, key_length, &e->schedule);
    hmac_sha1_begin(&e->hmac);
    hmac_sha1_key(derived + key_length, key_length, &e->hmac);
    memcpy(verifier, derived + 2 * key_length, kQlAesVerifierSize);
    memset(derived, 0, sizeof derived);
    return 0;
}

void aes_ctr_crypt(AesDecryptContext* context, uint8_t* buffer, size_t length)
{
    AesDecryptContext::Encryption* e = &context->encryption;
    size_t i = 0;
    while (i < length) {
        if (e->position == kQlAesBlockSize) {
            // Whole blocks straight from the counter; a last part block
            // keeps the rest of its keystream for the next call.
            const size_t blocks = (length - i) / kQlAesBlockSize;
            if (blocks > 0) {
                aes_ctr_blocks(&e->schedule, e->counter, buffer + i, blocks);
                i += blocks * kQlAesBlockSize;
                continue;
            }
            memset(e->keystream, 0, sizeof e->keystream);
            aes_ctr_blocks(&e->schedule, e->counter, e->keystream, 1);
            e->position = 0;
        }
        buffer[i++] ^= e->keystream[e->position++];
    }
}

void aes_decrypt_data(uint8_t* buffer, size_t length, AesDecryptContext* context)
{
    AesDecryptContext::Encryption* e = &context->encryption;
#if QL_X86_PATHS
    // With both instruction sets, whole 64-byte blocks in one pass, while
    // the hash and the keystream both stand at a block's start.
    const uint32_t both = kQlCpuAesNi | kQlCpuSha | kQlCpuSsse3;
    if (length >= kQlSha1BlockSize && (ql_cpu_features() & both) == both) {
        hmac_sha1_data(buffer, 0, &e->hmac);   // finishes the key
        QlSha1Context* sha = &e->hmac.sha;
        if (e->position == kQlAesBlockSize && (sha->count[0] & (kQlSha1BlockSize - 1)) == 0) {
            const size_t blocks = length / kQlSha1BlockSize;
            aes_ctr_sha1_blocks(&e->schedule, e->counter, sha->state, buffer, blocks);
            const uint64_t bytes = uint64_t(blocks) * kQlSha1BlockSize;
            const uint32_t low = sha->count[0] + static_cast<uint32_t>(bytes);
            sha->count[1] += static_cast<uint32_t>(bytes >> 32) + (low < sha->count[0] ? 1 : 0);
            sha->count[0] = low;
            buffer += bytes;
            length -= static_cast<size_t>(bytes);
        }
    }
#endif
    // Else authenticated and decrypted piece by piece, so that each piece
    // is still in the processor's cache for its second use.
    const size_t kPiece = 512;
    for (size_t at = 0; at < length; at += kPiece) {
        const size_t n = length - at < kPiece ? length - at : kPiece;
        hmac_sha1_data(buffer + at, n, &e->hmac);
        aes_ctr_crypt(context, buffer + at, n);
    }
}

int aes_hmac_finish(uint8_t out[kQlAesCodeSize], AesDecryptContext* context)
{
    hmac_sha1_end(out, kQlAesCodeSize, &context->encryption.hmac);
    memset(&context->encryption, 0, sizeof context->encryption);
    return kQlAesCodeSize;
}

QlCryptResult QlAesDecryptSource::begin(QlByteSource* archive, const char* password, size_t password_length,
                                        unsigned key_bits, uint64_t compressed_size)
{
    archive_ = archive;
    memset(&context_, 0, sizeof context_);
    final_result_ = kQlCryptUnauthentic;
    context_.key_bits = static_cast<uint16_t>(key_bits);
    // The key strength comes from the archive's extra field: a value outside
    // the three is damaged data.
    const unsigned mode = aes_mode_for_bits(key_bits);
    if (mode == 0)
        return kQlCryptDamaged;
    const unsigned salt_length = aes_salt_length(mode);
    // Salt, verifier and code are part of the compressed size: a smaller
    // size is a damaged entry, and must not wrap the ciphertext count.
    const uint64_t overhead = salt_length + kQlAesVerifierSize + kQlAesCodeSize;
    if (compressed_size < overhead)
        return kQlCryptDamaged;
    if (!password)
        return kQlCryptWrongPassword;

    uint8_t header[16 + kQlAesVerifierSize];
    if (!crypt_read_exact(archive, header, salt_length + kQlAesVerifierSize))
        return kQlCryptReadFailed;
    uint8_t verifier[kQlAesVerifierSize];
    // Passwords over 128 bytes are refused by the derivation: no such
    // password can match.
    if (aes_derive_keys(mode, reinterpret_cast<const uint8_t*>(password), password_length, header, verifier,
                        &context_) != 0 ||
        memcmp(verifier, header + salt_length, kQlAesVerifierSize) != 0) {
        memset(&context_.encryption, 0, sizeof context_.encryption);
        return kQlCryptWrongPassword;
    }
    context_.password_matches = 1;
    context_.remaining = compressed_size - overhead;
    return kQlCryptOk;
}

int32_t QlAesDecryptSource::fill(uint8_t* buffer, uint32_t capacity)
{
    if (context_.remaining == 0 || !context_.password_matches || !archive_)
        return 0;
    const uint32_t want = context_.remaining < capacity ? static_cast<uint32_t>(context_.remaining) : capacity;
    const int32_t n = archive_->fill(buffer, want);
    if (n <= 0)
        return n;
    qlCheck(static_cast<uint32_t>(n) <= want, kSource, kCryptOverfill);
    const uint32_t got = static_cast<uint32_t>(n) < want ? static_cast<uint32_t>(n) : want;
    aes_decrypt_data(buffer, got, &context_);
    context_.remaining -= got;
    return static_cast<int32_t>(got);
}

QlCryptResult QlAesDecryptSource::check_authentication()
{
    if (context_.authentication_done)
        return final_result_;
    // Ciphertext left over is as bad as a wrong code: the entry was not
    // read to its end.
    if (!context_.password_matches || context_.remaining != 0)
        return kQlCryptUnauthentic;
    uint8_t stored[kQlAesCodeSize];
    uint8_t computed[kQlAesCodeSize];
    const bool read = crypt_read_exact(archive_, stored, sizeof stored);
    aes_hmac_finish(computed, &context_);
    final_result_ = !read ? kQlCryptReadFailed
                          : memcmp(stored, computed, sizeof stored) == 0 ? kQlCryptOk : kQlCryptUnauthentic;
    context_.authentic = final_result_ == kQlCryptOk;
    context_.authentication_done = 1;
    return final_result_;
}
