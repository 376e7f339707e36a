// A whole appended archive through the engine: the walk, the extra fields,
// Inflate and traditional decryption with a fixed password, into the
// in-memory host. The first byte chooses the settings. Whatever the bytes,
// nothing may land outside the folder and no file may stay unverified.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stub/engine/unzip.h"
#include "tests/unzip/MemoryHost.h"

// An internal-error report is a fault here: hostile input must not reach one.
void qlHostAssert(const char*, int)
{
    abort();
}
void qlHostWin32Error(const char*, int)
{
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t choice = data[0];
    Bytes archive(data + 1, data + size);

    MemoryHost host;
    SfxExtractSettings settings;
    settings.host = &host;
    settings.archive_path = QlStr(QL("setup.exe"));
    settings.unzip_folder = QlStr(QL("C:\\dest"));
    settings.password = "secret";
    settings.overwrite_all = (choice & 2) != 0;
    settings.meter_in_use = (choice & 4) != 0;
    settings.total_size = (choice & 8) ? 0 : 100000;
    host.answers.push_back((choice & 16) ? kSfxAnswerNo : kSfxAnswerYes);
    host.answers.push_back(kSfxAnswerYes);
    host.folders.insert("C:\\dest");
    if (choice & 32) {
        MemoryHost::File existing;
        existing.timed = true;
        host.files["C:\\dest\\a.txt"] = existing;
    }
    if (choice & 1) {
        // Spanned over two parts, split in the middle.
        settings.spanned = true;
        const size_t half = archive.size() / 2;
        host.parts[0].assign(archive.begin(), archive.begin() + half);
        host.parts.push_back(Bytes(archive.begin() + half, archive.end()));
    } else {
        host.parts[0] = archive;
    }

    const int result = extract_all(settings);
    if (result < kSfxExtractDone || result > kSfxExtractFailed || !host.faults.empty() || !host.open.empty())
        abort();
    const std::string inside = "C:\\dest\\";
    for (const auto& f : host.files)
        if (f.first.compare(0, inside.size(), inside) != 0 || !f.second.timed)
            abort();
    for (const std::string& folder : host.folders)
        if (folder != "C:\\dest" && folder.compare(0, inside.size(), inside) != 0)
            abort();
    // A failure is shown once, or not at all (the user's own abort or cancel).
    if (host.errors.size() > 1 || (result == kSfxExtractDone && !host.errors.empty()))
        abort();
    return 0;
}
