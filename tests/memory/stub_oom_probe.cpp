// The stub's out-of-memory exit, seen from outside: the stub's own handler
// (its error unit as the stub links it) is installed as the stub installs it,
// a decoder optionally decodes one entry with its large blocks taken under a
// suspended handler, and then operator new ("new") or malloc ("malloc") runs
// out. The stub's box and exit code 1 are what the test expects, whatever the
// decoder did to the handler meanwhile; returning here is the fault.
//
// usage: stub_oom_probe new|malloc [ppmd|lzma ENTRY-DATA-FILE UNCOMPRESSED-SIZE]
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

#include "stub/engine/lzmadec.h"
#include "stub/engine/ppmddec.h"
#include "stub/sfxstub.h"
#include "tests/fuzz/FuzzPieceSource.h"

SfxState g_sfx;

namespace {

const int kExitReturned = 3;
const int kExitDecodeFailed = 4;
const int kExitUsage = 5;

class CountingSink final : public QlByteSink {
public:
    int take(const uint8_t*, uint32_t count) override
    {
        total += count;
        return 0;
    }
    uint64_t total = 0;
};

bool read_file(const wchar_t* path, std::vector<uint8_t>* data)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    data->resize(size);
    DWORD got = 0;
    const bool read = size == 0 || (ReadFile(file, data->data(), size, &got, nullptr) && got == size);
    CloseHandle(file);
    return read;
}

// One entry through the decoder, as the engine hands it over.
int decode_entry(const wchar_t* method, const wchar_t* path, const wchar_t* size)
{
    std::vector<uint8_t> data;
    if (!read_file(path, &data))
        return kExitUsage;
    static uint8_t buffer[1 << 20];
    FuzzPieceSource source(data.data(), data.size(), 0x7000);  // the engine's blocks
    CountingSink sink;
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = data.size();
    job.uncompressed_size = std::wcstoul(size, nullptr, 10);
    job.buffer = buffer;
    job.buffer_size = sizeof buffer;
    int result;
    if (std::wcscmp(method, L"ppmd") == 0)
        result = ppmd_decode_entry(job);
    else if (std::wcscmp(method, L"lzma") == 0)
        result = lzma_decode_entry(job);
    else
        return kExitUsage;
    return result == kQlDecodeOk && sink.total == job.uncompressed_size ? 0 : kExitDecodeFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 && argc != 5)
        return kExitUsage;
    install_out_of_memory_handler();
    if (argc == 5) {
        const int decoded = decode_entry(argv[2], argv[3], argv[4]);
        if (decoded != 0)
            return decoded;
    }
    volatile size_t huge = 0x7FF00000u;
    if (std::wcscmp(argv[1], L"malloc") == 0) {
        void* volatile block = std::malloc(huge);
        std::free(block);
    } else {
        char* volatile block = new char[huge];
        delete[] block;
    }
    return kExitReturned;
}
