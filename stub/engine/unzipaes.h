// The AES decryption that the variants with the AES feature hand to the
// engine (SfxExtractSettings::aes). Only a source that includes this header
// links AES, SHA-1, HMAC and PBKDF2.
#pragma once

#include "stub/engine/aesdcryp.h"
#include "stub/engine/unzip.h"

class SfxAesDecryptionOf final : public SfxAesDecryption {
public:
    QlCryptResult begin(QlByteSource* archive, const char* password, size_t password_length, unsigned key_bits,
                        uint64_t compressed_size) override
    {
        return m_source.begin(archive, password, password_length, key_bits, compressed_size);
    }
    QlByteSource* source() override { return &m_source; }
    QlCryptResult check_authentication() override { return m_source.check_authentication(); }

private:
    QlAesDecryptSource m_source;
};
