// The first run of a builder version: the version record and the offer to
// become the main archiver's "Make .Exe File" program. Also the builder's
// own path, which the setup steps share with start-up.
#include "builder/winsfx.h"

#include "builder/seams.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "winsfx";
const int kLineBuilderPath = 3897;
const int kMsgArchiverRunning = 4730;
const int kMsgAskArchiver = 4740;
const wchar_t kBuilderVersion[] = L"4.0";

}  // namespace

int get_module_file_name(HMODULE module, QlStr& path)
{
    wchar_t buffer[2048];
    DWORD n = GetModuleFileNameW(module, buffer, 2048);
    if (n == 0 || n >= 2048) {
        path.Clear();
        return 0;
    }
    path = QlStr(buffer, static_cast<int>(n));
    return static_cast<int>(n);
}

void register_with_main_archiver()
{
    QlStr setting = read_main_archiver_exe_setting();
    if (!setting.HasText() || setting.MatchNoCase(QlStr(QL("R5.6")), 2))
        return;
    if (main_archiver_passes_version_test() && setting.MatchNoCase(QlStr(QL("5.6")), 2))
        return;
    QlStr question = load_message(kMsgAskArchiver) + load_message(kMsgAskArchiver + 1);
    if (message_box_id(kMsgAskArchiver, question, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    QlStr own;
    get_module_file_name(nullptr, own);
    int slash = own.FindLastChar(QL('\\'), own.Length());
    if (!qlCheck(slash > 0, kSource, kLineBuilderPath))
        return;
    write_main_archiver_exe_setting(own.Left(slash + 1) + QL("qlxtra32.exe"));
    if (FindWindowW(L"QuollaWClass", nullptr))
        message_box_id(kMsgArchiverRunning, load_message(kMsgArchiverRunning), MB_OK);
}

int record_builder_version()
{
    if (read_builder_version_record() == kBuilderVersion)
        return 1;
    write_builder_version_record(QlStr(kBuilderVersion));
    register_with_main_archiver();
    return 2;
}
