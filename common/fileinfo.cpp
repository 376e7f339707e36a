// QlFileInfo: roots and mode bits.
#include "common/fileinfo.h"

#include "common/fileid.h"

namespace {

const uint32_t kAttributeReadOnly = 0x01;
const uint32_t kAttributeDirectory = 0x10;

const QlChar* const kExecutableExtensions[] = {QL("exe"), QL("cmd"), QL("bat"), QL("com")};

}  // namespace

bool qlFileInfoIsRoot(const QlStr& path)
{
    if (path.IsUncRoot())
        return true;
    QlFileId id(path);
    return id.IsSet() && id.GetDirectory().IsSlash() && !id.GetFileName().HasText();
}

uint16_t qlFileInfoMode(const QlStr& path, uint32_t attributes)
{
    bool directory = (attributes & kAttributeDirectory) != 0 || !path.HasText() ||
                     path.IsUncRoot() || path.IsDriveSpec() || qlFileInfoIsRoot(path);
    uint16_t mode = directory ? (kFileModeDirectory | kFileModeExecute) : kFileModeRegular;
    mode |= kFileModeRead;
    if ((attributes & kAttributeReadOnly) == 0)
        mode |= kFileModeWrite;
    QlStr ext = path.PathExtension();
    for (const QlChar* executable : kExecutableExtensions) {
        if (ext.EqualsNoCase(executable))
            mode |= kFileModeExecute;
    }
    uint16_t owner = mode & 0x1C0;
    return static_cast<uint16_t>(mode | (owner >> 3) | (owner >> 6));
}
