// Arbitrary bytes as an encrypted entry, traditional or AES, read through the
// decrypting layer in pieces (and through Inflate behind it), with a declared
// compressed size that need not fit the bytes. The layer must never read past
// the declared size nor hand on more than it holds. The same bytes, encrypted
// as an AES entry of our own, must decrypt back and authenticate.
//
// Input: options, password length (0xFF: none), password, declared size
// (2 bytes, little-endian), check byte, then the archive's bytes.
//   options bit 0: AES; bits 1-2: 128, 192, 256 bits or an invalid strength;
//   bit 3: inflate the data; bits 4-7: the piece size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/aesdcryp.h"
#include "stub/engine/crypt.h"
#include "stub/engine/inflate.h"

// An internal-error report is a fault here.
void qlHostAssert(const char*, int)
{
    abort();
}
void qlHostWin32Error(const char*, int)
{
    abort();
}

namespace {

class PieceSource : public QlByteSource {
public:
    PieceSource(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        if (capacity == 0)
            abort();
        size_t n = size_ - pos < piece_ ? size_ - pos : piece_;
        n = n < capacity ? n : capacity;
        memcpy(buffer, data_ + pos, n);
        pos += n;
        return static_cast<int32_t>(n);
    }
    size_t pos = 0;

private:
    const uint8_t* data_;
    size_t size_;
    size_t piece_;
};

class CountingSink : public QlByteSink {
public:
    int take(const uint8_t*, uint32_t count) override
    {
        if (count == 0)
            abort();
        total += count;
        return total > (1u << 20) ? kQlDecodeAborted : 0;
    }
    uint64_t total = 0;
};

struct Buffers {
    uint8_t window[kQlInflateMinWindow];
    uint8_t input[512];
    uint8_t output[1024];
    QlInflateState state;
};

bool known(QlCryptResult r)
{
    return r == kQlCryptOk || r == kQlCryptWrongPassword || r == kQlCryptDamaged || r == kQlCryptReadFailed ||
           r == kQlCryptUnauthentic;
}

// Hands on everything; returns the count.
uint64_t drain(QlByteSource* layer, size_t piece)
{
    uint8_t buffer[700];
    const uint32_t capacity = static_cast<uint32_t>(piece < sizeof buffer ? piece : sizeof buffer);
    uint64_t total = 0;
    for (int32_t n; (n = layer->fill(buffer, capacity)) > 0;) {
        if (static_cast<uint32_t>(n) > capacity)
            abort();
        total += static_cast<uint32_t>(n);
    }
    return total;
}

void round_trip(const uint8_t* plain, size_t size, const char* password, size_t password_length, unsigned bits,
                size_t piece)
{
    const unsigned mode = aes_mode_for_bits(bits);
    const unsigned salt_length = aes_salt_length(mode);
    std::vector<uint8_t> entry(salt_length + 2);
    for (unsigned i = 0; i < salt_length; ++i)
        entry[i] = static_cast<uint8_t>(i * 31 + size);
    AesDecryptContext context = {};
    if (aes_derive_keys(mode, reinterpret_cast<const uint8_t*>(password), password_length, entry.data(),
                        &entry[salt_length], &context) != 0)
        abort();
    entry.insert(entry.end(), plain, plain + size);
    aes_ctr_crypt(&context, entry.data() + salt_length + 2, size);
    hmac_sha1_data(entry.data() + salt_length + 2, size, &context.encryption.hmac);
    uint8_t code[kQlAesCodeSize];
    aes_hmac_finish(code, &context);
    entry.insert(entry.end(), code, code + sizeof code);

    PieceSource archive(entry.data(), entry.size(), piece);
    QlAesDecryptSource layer;
    if (layer.begin(&archive, password, password_length, bits, entry.size()) != kQlCryptOk)
        abort();
    std::vector<uint8_t> back;
    uint8_t buffer[300];
    const uint32_t capacity = static_cast<uint32_t>(piece < sizeof buffer ? piece : sizeof buffer);
    for (int32_t n; (n = layer.fill(buffer, capacity)) > 0;)
        back.insert(back.end(), buffer, buffer + n);
    if (back.size() != size || (size > 0 && memcmp(back.data(), plain, size) != 0) ||
        layer.check_authentication() != kQlCryptOk)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Buffers* b = [] {
        Buffers* fresh = new Buffers;
        inflate_setup(&fresh->state, fresh->window, sizeof fresh->window, fresh->input, sizeof fresh->input);
        return fresh;
    }();
    if (size < 2)
        return 0;
    const uint8_t options = data[0];
    const bool aes = options & 1;
    const unsigned bits = (options >> 1 & 3) == 3 ? 100 : 128 + 64 * (options >> 1 & 3);
    const bool inflate = options & 8;
    const size_t piece = 1 + (options >> 4) * (options >> 4) * 37;
    const bool no_password = data[1] == 0xFF;
    size_t password_length = no_password ? 0 : data[1] % 40;
    data += 2;
    size -= 2;
    if (password_length > size)
        password_length = size;
    const char* password = no_password ? nullptr : reinterpret_cast<const char*>(data);
    data += password_length;
    size -= password_length;
    if (size < 3)
        return 0;
    const uint64_t declared = data[0] | data[1] << 8;
    const uint8_t check_byte = data[2];
    data += 3;
    size -= 3;

    PieceSource archive(data, size, piece);
    QlZipCryptSource zip;
    QlAesDecryptSource aes_layer;
    QlByteSource* layer = aes ? static_cast<QlByteSource*>(&aes_layer) : &zip;
    const QlCryptResult begun = aes ? aes_layer.begin(&archive, password, password_length, bits, declared)
                                    : zip.begin(&archive, password, password_length, declared, check_byte);
    if (!known(begun) || archive.pos > declared)
        abort();
    const uint64_t held = aes ? aes_layer.remaining() : zip.remaining();
    if (held > declared || (begun != kQlCryptOk && held != 0))
        abort();

    uint64_t handed = 0;
    if (inflate) {
        CountingSink sink;
        QlOutputWindow out = {b->output, sizeof b->output, 0, &sink};
        if (inflate_data(&b->state, kQlDeflate, layer, &out) == 0)
            output_window_flush(&out);
        handed = held - (aes ? aes_layer.remaining() : zip.remaining());
    } else {
        handed = drain(layer, piece);
    }
    if (handed > held || archive.pos > declared)
        abort();
    if (aes) {
        const QlCryptResult checked = aes_layer.check_authentication();
        if (!known(checked) || archive.pos > declared || aes_layer.check_authentication() != checked)
            abort();
    }

    if (aes && bits != 100 && password && size <= 4096)
        round_trip(data, size, password, password_length, bits, piece);
    return 0;
}
