// The texts behind deletion at restart, as pure code: the "[rename]" lines
// of "wininit.ini" (Windows 9x) and the operations of the
// "PendingFileRenameOperations" value (Windows NT).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/QlList.h"
#include "common/QlString.h"

// The lines of "wininit.ini" as read in text mode: narrow bytes of the ANSI
// code page, each with its line end ("\n") where the file had one.
typedef std::vector<std::string> WininitLines;

// Puts "nul=<path>" directly below the first "[rename]" line (found without
// case), and "nul=<folder>" below that when a folder is given; a missing
// section line is put at the top first. A later entry thus stands above the
// earlier ones.
void wininit_schedule(WininitLines& lines, const std::string& path, const std::string& folder);
// Removes every "nul=<path>" line, and every "nul=<folder>" line when a
// folder is given, from below the first "[rename]" line (whole lines,
// without case). False when there is no such section: nothing changed.
bool wininit_cancel(WininitLines& lines, const std::string& path, const std::string& folder);

// The folder part of a path without its trailing backslash; empty for an
// empty path or a bare name.
QlStr restart_containing_folder(const QlStr& path);
// A drive's root ("D:\"), its drive part ("D:"), or an empty text: a folder
// that is never scheduled or cancelled.
bool restart_is_root(const QlStr& folder);

// One operation of "PendingFileRenameOperations": the source as recorded
// (with its object-manager prefix) and the target (empty: delete).
struct PendingOperation {
    QlStr source;
    QlStr target;
};
typedef std::vector<PendingOperation> PendingOperations;

// The value's UTF-16 units (as read, its final terminator included) split
// into operations. Empty strings are kept: a source with an empty target is
// a deletion; an odd string left over at the end is the final terminator.
PendingOperations split_pending_operations(const uint16_t* units, size_t count);
// Removes every operation whose source ends with the path, or with the
// folder when one is given (without case, '\' equal to '/'); the others keep
// their order. The number removed.
int cancel_pending_operations(PendingOperations& operations, const QlStr& path,
                              const QlStr& folder);
// The strings in order (source, target, source, ...), for writing back.
void pending_operation_strings(const PendingOperations& operations, QlStringList& out);
