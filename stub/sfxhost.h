// The stub's side of the archive engine: the archive and the output files
// through the stub's file layer, the user through message boxes.
//
// The user side goes through a message sink, so that the engine test program
// runs the same host with a sink that records and answers by script.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/QlString.h"
#include "stub/engine/unzip.h"
#include "stub/qlutil.h"

// Where the host's boxes and status texts go.
class SfxHostSink {
public:
    // Shows `text` (string `id` filled in) with caption 2000 and answers the
    // button pressed (IDOK, IDYES, IDNO, IDCANCEL, IDABORT, IDRETRY, IDIGNORE).
    virtual int box(int id, const QlStr& text, UINT type) = 0;
    // "Unzipping %s" for the status line, with the output name.
    virtual void unzipping(const QlStr& output_name) = 0;
    // The meter, 0-100.
    virtual void progress(uint32_t percent) = 0;

protected:
    ~SfxHostSink() = default;
};

// What the host needs of the running stub.
struct SfxHostSetup {
    HANDLE* archive = nullptr;      // the open archive; request_disk replaces it
    QlStr archive_path;             // the running stub, or the current part of a spanned set
    bool parts_are_executables = false;
    HWND owner = nullptr;           // the main dialog: input to it asks to abort
    HCURSOR wait_cursor = nullptr;
    SfxHostSink* sink = nullptr;
};

class SfxWinHost : public SfxEngineHost {
public:
    explicit SfxWinHost(const SfxHostSetup& setup) : setup_(setup) {}
    ~SfxWinHost();

    int32_t archive_read(uint8_t* buffer, uint32_t count) override;
    int64_t archive_seek(int64_t distance, int origin) override;

    SfxPathKind path_kind(const QlStr& path) override;
    bool create_folder(const QlStr& path) override;
    bool create_output(const QlStr& path) override;
    uint32_t write_output(const uint8_t* data, uint32_t count) override;
    void close_output(bool set_time, uint16_t dos_date, uint16_t dos_time) override;
    void delete_output(const QlStr& path) override;

    void show_error(const SfxMessage& message) override;
    SfxAnswer ask(const SfxMessage& message) override;
    bool poll_user_abort() override;
    void show_unzipping(const QlStr& output_name) override;
    void show_progress(uint32_t percent) override;

    bool request_disk(uint16_t disk) override;

    uint16_t current_disk() const { return current_disk_; }

private:
    HANDLE archive() const { return setup_.archive ? *setup_.archive : INVALID_HANDLE_VALUE; }

    SfxHostSetup setup_;
    UtilStream* output_ = nullptr;
    uint16_t current_disk_ = 1;
};

// The text of an engine message: string `id` with its placeholders filled
// in order (%s the phrase's text when there is one, else the name; %d the
// numbers), and " <place>" behind a read error.
QlStr sfx_engine_message_text(const SfxMessage& message);

// The disk number in a spanned set's volume label ("PKBACK#", then after the
// first '.' or blank the first run of digits), or 0xFFFF.
uint16_t sfx_disk_from_label(const QlChar* label);
// The label of `drive`'s root read that way.
uint16_t read_disk_number(const QlStr& drive);
// The drive of a path: "C:" or "\\server\share"; empty when it has none.
QlStr sfx_drive_of(const QlStr& path);
// A part of a spanned set: `path` with its extension replaced by EXE or ZIP.
QlStr sfx_part_path(const QlStr& path, bool executable);

// The folder change_to_folder enters: one trailing separator removed, except
// from a lone separator and from a drive's root ("C:\" stays "C:\", since
// "C:" is that drive's current folder, not its root).
QlStr sfx_folder_to_enter(const QlStr& folder);
