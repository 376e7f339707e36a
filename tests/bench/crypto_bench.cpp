// AES entries (AES-CTR with HMAC-SHA1) against p7zip testing the same
// archives in the same run. Ours reads the entry as the engine does: key
// derivation, 28 KiB refills decrypted and authenticated, the CRC-32 of the
// plain bytes, the authentication check. 7z tests the archive (`7z t`), its
// start-up (a tiny archive of the same strength) taken off. Then the
// halves of ours alone, to show where the time goes.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/aesdcryp.h"
#include "stub/engine/cpufeatures.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/BenchTiming.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

using namespace bench_data;
using namespace bench_timing;

const char kPassword[] = "benchmark";
// Large enough that 7z's start-up is a small share of its time.
const size_t kPlainSize = 256 << 20;
const size_t kPartSize = 64 << 20;  // the parts alone: its first bytes
const uint32_t kRefill = 0x7000;   // the engine's input buffer

struct Archive {
    std::string path;
    std::string tiny;  // the same strength over a few bytes
    Bytes entry;       // salt to authentication code
    unsigned key_bits = 0;
};

// A stored AES archive written by 7z, and its one entry's data.
bool make_archive(const std::string& folder, const std::string& plain, unsigned bits, const std::string& path,
                  Bytes* entry, unsigned* key_bits)
{
    Timing ignored;
    unlink(path.c_str());
    if (!time_program(&ignored, {"7z", "a", "-bd", "-tzip", "-mx0", "-mem=AES" + std::to_string(bits),
                                 std::string("-p") + kPassword, path, plain},
                      folder.c_str()))
        return false;
    Bytes zip;
    if (!append_file(path, &zip, SIZE_MAX) || zip.size() < 30 || le(zip, 0, 4) != 0x04034B50 || le(zip, 8, 2) != 99)
        return false;
    // The local header: sizes stand in it (7z writes no descriptor here).
    const uint32_t size = le(zip, 18, 4);
    const size_t name = le(zip, 26, 2), extra = le(zip, 28, 2);
    *key_bits = 0;
    for (size_t at = 30 + name; at + 4 <= 30 + name + extra; at += 4 + le(zip, at + 2, 2))
        if (le(zip, at, 2) == 0x9901)
            *key_bits = 64 + 64 * zip[at + 8];
    const size_t start = 30 + name + extra;
    if (*key_bits != bits || start + size > zip.size())
        return false;
    entry->assign(zip.begin() + start, zip.begin() + start + size);
    return true;
}

// The whole entry as the engine reads it.
bool read_entry(const Archive& a, Bytes* buffer, uint32_t expected_crc)
{
    MemorySource source(a.entry);
    QlAesDecryptSource layer;
    if (layer.begin(&source, kPassword, strlen(kPassword), a.key_bits, a.entry.size()) != kQlCryptOk)
        return false;
    CrcSink sink;
    for (int32_t n; (n = layer.fill(buffer->data(), kRefill)) > 0;)
        sink.take(buffer->data(), static_cast<uint32_t>(n));
    return layer.check_authentication() == kQlCryptOk && sink.crc() == expected_crc;
}

}  // namespace

int main()
{
    const int runs = bench_runs(3);
    char pattern[] = "/tmp/crypto_bench.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    std::mt19937 rng(1);
    Bytes data(kPlainSize);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    const uint32_t crc = crc_of(data);
    for (const char* name : {"plain.bin", "tiny.bin"}) {
        FILE* f = fopen((folder + "/" + name).c_str(), "wb");
        if (!f)
            return 1;
        fwrite(data.data(), 1, name[0] == 'p' ? data.size() : 64, f);
        fclose(f);
    }

    Archive archives[3];
    for (unsigned i = 0; i < 3; ++i) {
        Archive& a = archives[i];
        const unsigned bits = 128 + 64 * i;
        a.path = folder + "/aes" + std::to_string(bits) + ".zip";
        a.tiny = folder + "/tiny" + std::to_string(bits) + ".zip";
        Bytes tiny_entry;
        unsigned tiny_bits;
        if (!make_archive(folder, "plain.bin", bits, a.path, &a.entry, &a.key_bits) ||
            !make_archive(folder, "tiny.bin", bits, a.tiny, &tiny_entry, &tiny_bits)) {
            fprintf(stderr, "crypto_bench: could not make the AES-%u archives with 7z\n", bits);
            return 1;
        }
    }

    const uint32_t features = ql_cpu_features();
    printf("processor paths: %s%s%s%s\n", features & kQlCpuAesNi ? "AES-NI " : "",
           features & kQlCpuSha ? "SHA " : "", features & kQlCpuSsse3 ? "SSSE3 " : "",
           features & kQlCpuPclmul ? "PCLMUL" : "");
    Bytes buffer(kRefill);
    print_header("AES entries, decrypted, authenticated and CRC-checked", "7z t less its start-up");
    for (const Archive& a : archives) {
        Timing ours, seven, start_up;
        bool ok = true;
        for (int r = 0; r < runs && ok; ++r) {
            ok = time_in_process(&ours, [&] { return read_entry(a, &buffer, crc); }) &&
                 time_program(&seven, {"7z", "t", "-bd", std::string("-p") + kPassword, a.path}) &&
                 time_program(&start_up, {"7z", "t", "-bd", std::string("-p") + kPassword, a.tiny});
        }
        char note[80];
        snprintf(note, sizeof note, "7z start-up %.0f ms cpu, %.0f ms wall", start_up.cpu * 1e3,
                 start_up.wall * 1e3);
        if (!ok)
            printf("  AES-%u entry failed\n", a.key_bits);
        else
            print_row("AES-" + std::to_string(a.key_bits) + " entry", static_cast<double>(a.entry.size()), ours,
                      less_start_up(seven, start_up), note);
    }

    // Where the time goes: the halves of the AES-256 entry alone, each on
    // the path this processor takes and on the portable one.
    printf("\nthe AES-256 entry's parts alone, MB/s by processor time (this processor's path, portable):\n");
    const Archive& a = archives[2];
    for (int part = 0; part < 4; ++part) {
        double speed[2];
        for (int portable = 0; portable < 2; ++portable) {
            ql_cpu_limit_features(portable ? 0 : ~0u);
            Timing t;
            Bytes work(a.entry.begin(), a.entry.begin() + std::min(a.entry.size(), kPartSize));
            for (int r = 0; r < runs; ++r) {
                time_in_process(&t, [&] {
                    AesDecryptContext context = {};
                    uint8_t verifier[2];
                    aes_derive_keys(3, reinterpret_cast<const uint8_t*>(kPassword), strlen(kPassword),
                                    work.data(), verifier, &context);
                    for (size_t at = 0; at < work.size(); at += kRefill) {
                        const size_t n = std::min<size_t>(kRefill, work.size() - at);
                        if (part == 0)
                            aes_ctr_crypt(&context, work.data() + at, n);
                        else if (part == 1)
                            hmac_sha1_data(work.data() + at, n, &context.encryption.hmac);
                        else if (part == 3)
                            aes_decrypt_data(work.data() + at, n, &context);
                        else
                            crc32_update(0, work.data() + at, n);
                    }
                    return true;
                });
            }
            speed[portable] = work.size() / t.cpu / 1e6;
        }
        ql_cpu_limit_features(~0u);
        const char* names[] = {"AES-CTR", "HMAC-SHA1", "CRC-32", "both halves"};
        printf("  %-12s %8.1f %8.1f\n", names[part], speed[0], speed[1]);
    }

    for (const Archive& x : archives) {
        unlink(x.path.c_str());
        unlink(x.tiny.c_str());
    }
    unlink((folder + "/plain.bin").c_str());
    unlink((folder + "/tiny.bin").c_str());
    rmdir(folder.c_str());
    return 0;
}
