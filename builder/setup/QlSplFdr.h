// A folder below a shell special folder (the builder's Start-menu group)
// that can be created and removed, and the shortcut (".lnk") files in it,
// made through the shell's COM objects.
#pragma once

#include <cstdint>

#include "common/QlString.h"

enum QlSplFdrLine {
    kSplFdrNoCsidl = 38,
    kSplFdrNoSubPath = 39,
    kSplFdrNoDescription = 133,
    kSplFdrNoTarget = 144,
    kSplFdrTargetLong = 146,
    kSplFdrArgumentsLong = 160,
    kSplFdrDescriptionLong = 170,
    kSplFdrIconLong = 180,
    kSplFdrIconIndex = 182,
    kSplFdrFolderLong = 190,
    kSplFdrShowCommand = 202,
    kSplFdrRecreateNoDescription = 287,
};

// What one shortcut holds. The flags say which of the optional parts are set.
struct QlShortcut {
    enum Flags : uint32_t {
        kDescription = 0x01,  // also the name of the ".lnk" file
        kArguments = 0x02,
        kIcon = 0x04,
        kWorkingFolder = 0x08,
        kHotKey = 0x10,
        kShowCommand = 0x20,
    };
    QlStr target;
    uint32_t flags = 0;
    QlStr description;
    QlStr arguments;
    QlStr icon_file;
    int32_t icon_index = 0;
    QlStr working_folder;
    int show_command = 1;  // 1, 2 or 3
    uint16_t hot_key = 0;
};

// Shortcuts are made only in a process that has started COM itself; the
// builder's start-up says so here.
void qlSetComStarted(bool started);
bool qlComStarted();

class QlSpecialFolder {
public:
    // The special folder's path + "\" + the sub-path, without a trailing
    // backslash; empty when the special folder does not exist here.
    QlSpecialFolder(int csidl, const QlStr& sub_path);

    const QlStr& Path() const { return path_; }
    int Csidl() const { return csidl_; }
    bool Exists() const;

    // One level, no parents; true only when the folder was made now.
    bool Create();
    // The folder with everything in it; true when all of it went.
    bool Remove();
    // True when the shortcut file was saved.
    bool CreateShortcut(const QlShortcut& shortcut);
    // The folder + "\" + name + ".lnk"; empty for an empty name.
    QlStr ShortcutPath(const QlStr& name) const;
    bool ShortcutExists(const QlStr& name) const;
    bool DeleteShortcut(const QlStr& name);
    // Deletes the shortcut named by the description, then makes it anew.
    bool RecreateShortcut(const QlShortcut& shortcut);
    // Opens the folder in the shell.
    bool Open() const;

private:
    QlStr path_;
    int csidl_;
};
