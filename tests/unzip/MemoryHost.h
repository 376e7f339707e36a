// An in-memory host for the archive engine: the archive (or the parts of a
// spanned one) as bytes, output files and folders in maps, every message
// recorded, and the user's answers scripted.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "stub/engine/unzip.h"

typedef std::vector<uint8_t> Bytes;

inline std::string utf8(const QlStr& text)
{
    return text.ToUtf8Static();
}

class MemoryHost : public SfxEngineHost {
public:
    struct File {
        Bytes bytes;
        bool timed = false;       // closed with its time set
        uint16_t date = 0, time = 0;
    };

    explicit MemoryHost(Bytes archive = Bytes()) { parts.push_back(std::move(archive)); }

    // --- the archive
    int32_t archive_read(uint8_t* buffer, uint32_t count) override
    {
        const Bytes& a = current();
        const size_t n = position >= a.size() ? 0 : std::min<size_t>(count, a.size() - position);
        if (n > 0)
            memcpy(buffer, a.data() + position, n);
        position += n;
        return static_cast<int32_t>(n);
    }
    int64_t archive_seek(int64_t distance, int origin) override
    {
        if (seek_fails)
            return -1;
        const int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(position)
                                                           : static_cast<int64_t>(current().size());
        if (base + distance < 0)
            return -1;
        position = static_cast<size_t>(base + distance);
        return base + distance;
    }

    // --- output
    SfxPathKind path_kind(const QlStr& path) override
    {
        const std::string p = utf8(path);
        if (folders.count(p) || p.size() <= 3)  // a drive or its root
            return kSfxPathFolder;
        return files.count(p) ? kSfxPathFile : kSfxPathMissing;
    }
    bool create_folder(const QlStr& path) override
    {
        folders.insert(utf8(path));
        return true;
    }
    bool create_output(const QlStr& path) override
    {
        expect(open.empty(), "one output file at a time");
        if (folders.count(utf8(path)))
            return false;
        open = utf8(path);
        files[open] = File();
        return true;
    }
    uint32_t write_output(const uint8_t* data, uint32_t count) override
    {
        expect(!open.empty(), "a write without an open file");
        expect(count > 0, "a write of no bytes");
        files[open].bytes.insert(files[open].bytes.end(), data, data + count);
        ++writes;
        return disk_full ? count - 1 : count;
    }
    void close_output(bool set_time, uint16_t dos_date, uint16_t dos_time) override
    {
        expect(!open.empty(), "a close without an open file");
        File& f = files[open];
        f.timed = set_time;
        f.date = dos_date;
        f.time = dos_time;
        open.clear();
    }
    void delete_output(const QlStr& path) override
    {
        expect(open.empty(), "deleted while open");
        files.erase(utf8(path));
        deleted.push_back(utf8(path));
    }

    // --- the user
    void show_error(const SfxMessage& message) override { errors.push_back(message); }
    SfxAnswer ask(const SfxMessage& message) override
    {
        questions.push_back(message);
        if (answers.empty())
            return kSfxAnswerCancel;
        SfxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool poll_user_abort() override { return abort_at_write > 0 && writes >= abort_at_write; }
    void show_unzipping(const QlStr& output_name) override
    {
        unzipping.push_back(utf8(output_name));
        if (on_unzipping)
            on_unzipping();
    }
    void show_progress(uint32_t percent) override { progress.push_back(percent); }

    // --- spanning: disk n is parts[n - 1]; 0 the last
    bool request_disk(uint16_t disk) override
    {
        disks.push_back(disk);
        const size_t index = disk == 0 ? parts.size() - 1 : disk - 1u;
        if (index >= parts.size())
            return false;
        part = index;
        position = 0;
        return true;
    }

    // Misuse of the host by the engine, for the test to check (and the fuzz
    // target to abort on).
    void expect(bool ok, const char* what)
    {
        if (!ok)
            faults.push_back(what);
    }
    std::vector<std::string> faults;

    const Bytes& current() const { return parts[part]; }
    // The one error shown, or id 0.
    int error_id() const { return errors.empty() ? 0 : errors.back().id; }

    std::vector<Bytes> parts;
    size_t part = 0;
    size_t position = 0;
    bool seek_fails = false;

    std::map<std::string, File> files;
    std::set<std::string> folders;
    std::string open;
    std::vector<std::string> deleted;
    int writes = 0;
    bool disk_full = false;
    int abort_at_write = 0;

    std::vector<SfxMessage> errors;
    std::vector<SfxMessage> questions;
    std::deque<SfxAnswer> answers;
    std::vector<std::string> unzipping;
    std::function<void()> on_unzipping;  // called after each status line
    std::vector<uint32_t> progress;
    std::vector<uint16_t> disks;
};
