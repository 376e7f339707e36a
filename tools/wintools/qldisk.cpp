// qldisk: puts a "disk" into a removable drive of the Wine session. Wine's
// mount manager keeps a drive's volume label from the moment the drive was
// defined, so re-pointing the drive's dosdevices link alone leaves the old
// disk's label; defining the drive anew through the mount manager (as Wine's
// own configuration tool does) points it at the folder and reads the label
// of the folder's .windows-label.
//
//   qldisk LETTER UNIX_FOLDER     prints the drive's label as Windows reads it
//   qldisk LETTER -               removes the drive again
//
// Exit code 0 when the drive is defined, removable, at the folder (or, for
// "-", when it is gone).
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Wine's mount manager request (include/ddk/mountmgr.h of Wine).
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
const DWORD kDefineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::strlen(argv[1]) != 1) {
        std::fprintf(stderr, "usage: qldisk LETTER UNIX_FOLDER\n");
        return 2;
    }
    const char* folder = argv[2];
    // A request without a mount point removes the drive.
    const bool remove = std::strcmp(folder, "-") == 0;
    std::vector<char> request(sizeof(UnixDrive) + (remove ? 0 : std::strlen(folder) + 1), 0);
    UnixDrive* drive = reinterpret_cast<UnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->type = remove ? DRIVE_NO_ROOT_DIR : DRIVE_REMOVABLE;
    drive->letter = static_cast<WCHAR>(argv[1][0] | 0x20);
    if (!remove) {
        drive->mount_point_offset = sizeof(UnixDrive);
        std::memcpy(request.data() + sizeof(UnixDrive), folder, std::strlen(folder));
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (manager == INVALID_HANDLE_VALUE ||
        !DeviceIoControl(manager, kDefineUnixDrive, request.data(), static_cast<DWORD>(request.size()),
                         nullptr, 0, &got, nullptr)) {
        std::fprintf(stderr, "qldisk: the mount manager refused (error %lu)\n", GetLastError());
        return 1;
    }
    CloseHandle(manager);
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(drive->letter - 0x20);
    if (remove)
        return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR ? 0 : 1;
    wchar_t label[40] = {0};
    if (!GetVolumeInformationW(root, label, 40, nullptr, nullptr, nullptr, nullptr, 0))
        label[0] = 0;
    std::printf("%ls\n", label);
    return GetDriveTypeW(root) == DRIVE_REMOVABLE ? 0 : 1;
}
