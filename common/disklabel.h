// The volume labels of a spanned set's disks: "PKBACK#", then after the
// first '.' or blank behind it the disk number (1 for the first disk), as
// the helper library writes them ("PKBACK# 001") and the stub and the
// builder read them. A FAT label holds at most 11 characters.
// Pure code: no Windows headers.
#pragma once

#include "common/QlTypes.h"

// The disk number in `label` (NUL-terminated), or -1 when it names none: no
// exact "PKBACK#" prefix, no '.' or blank behind it, no digit behind that, or
// a number of 65,535 or more (no disk of a set, and never wrapped onto one).
int qlSpanDiskFromLabel(const QlChar* label);

// The label of disk `disk` of a set: "PKBACK# 001". False for a number
// outside 1-999, which the 11 characters cannot hold in this form.
bool qlSpanDiskLabel(int disk, QlChar label[12]);
