// "Run as administrator": the stub's RT_MANIFEST 1 replaced by the
// administrator manifest that every stub carries beside it.
#pragma once

#include <windows.h>

// The resource that holds the administrator manifest in every stub.
#define QL_ADMIN_MANIFEST_TYPE L"QL_MANIFEST"
#define QL_ADMIN_MANIFEST_NAME L"ADMIN_MANIFEST"

// False when the manifest could not be swapped (1109 or 1110 was shown); the
// executable then runs with the stub's own manifest.
bool use_admin_manifest(const wchar_t* exe_path);
