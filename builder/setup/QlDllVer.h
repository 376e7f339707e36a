// The file version of a module, with an override that a user can set in the
// builder's settings (the common-controls version above all, which decides
// how the file dialogs look).
#pragma once

#include <cstdint>

#include "common/QlString.h"

enum QlDllVerLine {
    kDllVerNoPath = 47,
    kDllVerLock = 3593,
};

class QlDLLVersion {
public:
    QlDLLVersion() = default;
    virtual ~QlDLLVersion() = default;

    // With the override allowed, a text "a.b.c.d" stored under the module's
    // path in the section "Quolla Self-Extractor" of the profile
    // "quollase.ini" stands for the version; otherwise the version resource.
    // A module without one reports the last Windows error and fails.
    bool Query(const QlStr& module, bool allow_override);

    const QlStr& Module() const { return module_; }
    uint32_t Ms() const { return ms_; }
    uint32_t Ls() const { return ls_; }
    int Major() const { return int(ms_ >> 16); }
    int Minor() const { return int(ms_ & 0xFFFF); }
    // Version 6 or later (common controls 6).
    bool IsVersion6OrLater() const { return ms_ > 0x6FFFF || (ms_ >> 16) == 6; }

private:
    QlStr module_;
    uint32_t ms_ = 0;
    uint32_t ls_ = 0;
};

// Up to four decimal numbers separated by "."; missing ones are 0
// ("4.0" gives 0x00040000 and 0). False for an empty text.
bool parse_version_override(const QlStr& text, uint32_t& ms, uint32_t& ls);

// The process-wide common-controls version, queried once at start-up.
QlDLLVersion& common_controls_version();
