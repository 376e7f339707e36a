// The build: from the Zip named in the option record to the self-extracting
// executable, through the scan, the stub choice, the configuration block,
// the helper library's append, the header record, the PE section and the CRC.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "builder/sfxconfig.h"
#include "builder/sfxoptions.h"

// 1 when the file was made, 0 on failure or cancel; never throws.
int build_sfx_guarded(HWND wizard);
int build_sfx(HWND wizard);

// The checks of the Zip and output names with the scan (true: go on); a
// refusal shows its message and throws the integer 2. Interactive (the
// wizard): an existing output is confirmed (4310) and kept for the build.
bool check_zip_and_target(const std::wstring& zip_name, bool interactive);
// The wizard's check of a Zip file: the scan flags reset, a default setup
// command from a "setup.exe" or "install.exe" entry, no exception; false
// (names cleared) when the file is refused.
bool validate_zip_quietly(const QlStr& zip_name);
void reset_scan_flags();
// The Zip and output names and the scan's findings, for a new pass.
void clear_zip_and_exe_names();
// The last scan saw "_isdel.exe".
bool zip_has_isdel_entry();
// The file exists and cannot be opened for writing without sharing.
bool is_file_locked(const std::wstring& path);

// The eight texts of the configuration block and the header flags that the
// command decides (command split, "inf"), from the option record.
SfxConfigBlock assemble_config_texts(const SfxOptions& options, const SfxBuildSettings& settings,
                                     uint32_t* command_flags);
// The option string: the build's options in switch form.
std::wstring build_option_string(const SfxOptions& options, const SfxBuildSettings& settings);
// The header flags of the option record and the scan.
uint32_t header_flags(const SfxOptions& options, const SfxBuildSettings& settings,
                      bool encrypted_entries, bool long_names, bool pe_section);

// Builder messages of the build (builder/build_en.rc).
enum BuildMessage {
    kMsgReadError = 1018,
    kMsgNoHeaderMemory = 1029,
    kMsgReadExternalHeader = 1030,
    kMsgOpenHeader = 1031,
    kMsgInternal1 = 1032,
    kMsgInternal2 = 1033,
    kMsgInternal3 = 1034,
    kMsgCompressFailed = 1035,
    kMsgWriteExe = 1036,
    kMsgOpenLog = 1041,
    kMsgExtension = 1039,
    kMsgZipNotFound = 1040,
    kMsgOpenZip = 1043,
    kMsgReplace = 1045,
    kMsgReplaceWizard = 4310,
    kMsgOutputInUse = 4320,
    kMsgRemoveExe = 1046,
    kMsgOpenExe = 1047,
    kMsgOldHeader = 1051,
    kMsgOpenZipReading = 1053,
    kMsgReadExe = 1058,
    kMsgSeekExe = 1059,
    kMsgUpdateExe = 1060,
    kMsgUpdateExeRetry = 1061,
    kMsgInternal13 = 1066,
    kMsgZipChanged = 1067,
    kMsgZipName = 1073,
    kMsgLibraryError = 1080,
    kMsgCommentFailed = 4170,
    kMsgInstallShield = 4840,
    kMsgEncrypted = 5060,
    kMsgSegmentTable = 6010,
    kMsgInsertDisk1 = 6120,
    kMsgInsertDisk1Again = 6322,
    kMsgSameDriveAsSpan = 6323,
    kMsgWriteTo = 6130,
    kMsgValidation = 6324,
    kMsgLastPart = 6325,
    kMsgIncomplete = 6326,
    kMsgTooLarge2gb = 6329,
    kMsgTextsTooLong = 6340,
};

// Lines of the build log (-v), by their string ids.
enum BuildLogLine {
    kLogStarted = 1042,
    kLogValidated = 1044,
    kLogWritingStub = 1048,
    kLogStubWritten = 1049,
    kLogNoEyecatcher = 1050,
    kLogOldHeader = 1052,
    kLogCopyingZip = 1054,
    kLogCopied = 1056,
    kLogCrc = 1062,
    kLogCrcValue = 1063,
    kLogDone = 1065,
};
