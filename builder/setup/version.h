// The version check between the builder and its helper library: each file's
// version resource names the other file and the range of its major version
// that it accepts ("min,max").
#pragma once

#include "common/QlString.h"

// True when both files accept each other. The ids are the messages for a
// library out of the builder's range and for a builder out of the library's
// range; 0 suppresses that message.
bool check_dll_version(const QlStr& library_path, int library_old_id, int builder_old_id);

// The parts of the check, for tests: the major version within "min,max".
bool major_in_range(int major, const QlStr& range);
