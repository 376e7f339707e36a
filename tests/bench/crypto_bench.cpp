// AES-CTR with HMAC-SHA1 (the AES entry path) against p7zip testing the same
// AES-256 archive in the same run. Prints each side's throughput of entry
// bytes and the ratio ours / p7zip; p7zip's figure includes its start-up, so
// the entry is large enough to make that small.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/aesdcryp.h"
#include "tests/bench/RatioReporter.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

typedef std::vector<uint8_t> Bytes;

const char kPassword[] = "benchmark";
const size_t kPlainSize = 32 << 20;
const uint32_t kRefill = 0x7000;   // the engine's input buffer

struct Archive {
    std::string folder;
    std::string path;
    Bytes entry;      // salt to authentication code
    unsigned key_bits = 0;
};

uint16_t le16(const Bytes& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t le32(const Bytes& b, size_t at)
{
    return le16(b, at) | uint32_t(le16(b, at + 2)) << 16;
}

// A stored AES-256 archive written by 7z, and its one entry's data.
bool make_archive(Archive* a)
{
    char folder[] = "/tmp/crypto_bench.XXXXXX";
    if (!mkdtemp(folder))
        return false;
    a->folder = folder;
    const std::string plain = a->folder + "/plain.bin";
    a->path = a->folder + "/aes.zip";
    std::mt19937 rng(1);
    Bytes data(kPlainSize);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    FILE* f = fopen(plain.c_str(), "wb");
    if (!f)
        return false;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    const std::string command = "7z a -bd -tzip -mx0 -mem=AES256 -p" + std::string(kPassword) + " " + a->path + " " +
                                plain + " > /dev/null";
    if (system(command.c_str()) != 0)
        return false;
    f = fopen(a->path.c_str(), "rb");
    if (!f)
        return false;
    Bytes zip;
    uint8_t buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        zip.insert(zip.end(), buf, buf + n);
    fclose(f);
    // The local header: sizes stand in it (7z writes no descriptor here).
    if (zip.size() < 30 || le32(zip, 0) != 0x04034B50 || le16(zip, 8) != 99)
        return false;
    const uint32_t size = le32(zip, 18);
    const size_t name = le16(zip, 26), extra = le16(zip, 28);
    for (size_t at = 30 + name; at + 4 <= 30 + name + extra; at += 4 + le16(zip, at + 2))
        if (le16(zip, at) == 0x9901)
            a->key_bits = 64 + 64 * zip[at + 8];
    const size_t start = 30 + name + extra;
    if (a->key_bits == 0 || start + size > zip.size())
        return false;
    a->entry.assign(zip.begin() + start, zip.begin() + start + size);
    return true;
}

class MemorySource : public QlByteSource {
public:
    explicit MemorySource(const Bytes& data) : data_(data) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        const size_t n = std::min<size_t>(capacity, data_.size() - pos_);
        memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

// The whole entry as the engine reads it: key derivation, 28 KiB refills,
// the authentication check.
void ours(benchmark::State& state, const Archive* a)
{
    Bytes buffer(kRefill);
    for (auto _ : state) {
        MemorySource source(a->entry);
        QlAesDecryptSource layer;
        if (layer.begin(&source, kPassword, strlen(kPassword), a->key_bits, a->entry.size()) != kQlCryptOk) {
            state.SkipWithError("wrong password");
            break;
        }
        while (layer.fill(buffer.data(), kRefill) > 0)
            benchmark::DoNotOptimize(buffer[0]);
        if (layer.check_authentication() != kQlCryptOk) {
            state.SkipWithError("not authentic");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a->entry.size()));
}

// The two halves alone, to see where the time goes.
void ours_ctr(benchmark::State& state, const Archive* a)
{
    Bytes data(a->entry);
    AesDecryptContext context = {};
    uint8_t verifier[2];
    aes_derive_keys(3, reinterpret_cast<const uint8_t*>(kPassword), strlen(kPassword), data.data(), verifier,
                    &context);
    for (auto _ : state) {
        for (size_t at = 0; at < data.size(); at += kRefill)
            aes_ctr_crypt(&context, data.data() + at, std::min<size_t>(kRefill, data.size() - at));
        benchmark::DoNotOptimize(data[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void ours_hmac(benchmark::State& state, const Archive* a)
{
    for (auto _ : state) {
        QlHmacSha1Context hmac;
        hmac_sha1_begin(&hmac);
        hmac_sha1_key(reinterpret_cast<const uint8_t*>(kPassword), strlen(kPassword), &hmac);
        for (size_t at = 0; at < a->entry.size(); at += kRefill)
            hmac_sha1_data(a->entry.data() + at, std::min<size_t>(kRefill, a->entry.size() - at), &hmac);
        uint8_t code[10];
        hmac_sha1_end(code, sizeof code, &hmac);
        benchmark::DoNotOptimize(code[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a->entry.size()));
}

// p7zip testing the archive: decryption and authentication of the same entry.
void p7zip(benchmark::State& state, const Archive* a)
{
    const std::string command = "7z t -bd -p" + std::string(kPassword) + " " + a->path + " > /dev/null";
    for (auto _ : state) {
        if (system(command.c_str()) != 0) {
            state.SkipWithError("7z t failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a->entry.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    Archive a;
    if (!make_archive(&a)) {
        fprintf(stderr, "crypto_bench: could not make the AES archive with 7z\n");
        return 1;
    }
    benchmark::RegisterBenchmark("ours/aes256-entry", ours, &a)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("ours/aes256-ctr", ours_ctr, &a)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("ours/hmac-sha1", ours_hmac, &a)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("p7zip/aes256-entry", p7zip, &a)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double o = reporter.speed["ours/aes256-entry/real_time"];
    const double p = reporter.speed["p7zip/aes256-entry/real_time"];
    printf("\nAES-256 entry of %zu bytes, decrypted and authenticated, ours / p7zip (7z t):\n", a.entry.size());
    if (o > 0 && p > 0)
        printf("  %7.1f MB/s vs %7.1f MB/s: %.2fx\n", o / 1e6, p / 1e6, o / p);
    benchmark::Shutdown();
    unlink(a.path.c_str());
    unlink((a.folder + "/plain.bin").c_str());
    rmdir(a.folder.c_str());
    return 0;
}
