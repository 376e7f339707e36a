// The version check of the helper library.
#include "builder/setup/version.h"

#include <vector>

#include <windows.h>

#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "version";
const int kLineNoOwnBlock = 79;
const int kLineUiLanguage = 120;
const int kMsgUiLanguage = 1000;

// A file's version block, released when it goes.
class VersionBlock {
public:
    explicit VersionBlock(const QlStr& path)
    {
        DWORD handle = 0;
        DWORD size = path.HasText() ? GetFileVersionInfoSizeW(path.Text(), &handle) : 0;
        if (size == 0)
            return;
        // Twice the size: the ANSI side of the block is converted in place.
        data_.resize(size * 2);
        if (!GetFileVersionInfoW(path.Text(), 0, size, data_.data()))
            data_.clear();
    }
    bool Loaded() const { return !data_.empty(); }

    // The text of the string value, or null.
    QlStr Value(const QlStr& name, const QlStr& uiLanguage) const
    {
        if (!Loaded() || !name.HasText())
            return QlStr::CtorNull();
        static const QlChar kGerman[] = QL("\\StringFileInfo\\040704E4\\");
        static const QlChar kEnglish[] = QL("\\StringFileInfo\\040904E4\\");
        bool german = uiLanguage.EqualsNoCase(QL("DE"));
        QlStr found;
        if (Query(QlStr(german ? kGerman : kEnglish) + name, found))
            return found;
        if (uiLanguage.EqualsNoCase(QL("EN")))
            return QlStr::CtorNull();
        if (Query(QlStr(kEnglish) + name, found))
            return found;
        return QlStr::CtorNull();
    }

    // The high word of dwFileVersionMS; -1 when there is none.
    int Major() const
    {
        if (!Loaded())
            return -1;
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
            length == 0 || fixed == nullptr)
            return -1;
        return HIWORD(fixed->dwFileVersionMS);
    }

private:
    bool Query(const QlStr& path, QlStr& out) const
    {
        wchar_t* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), path.Text(), reinterpret_cast<void**>(&text), &length) ||
            length == 0 || text == nullptr)
            return false;
        out = QlStr(text);
        return true;
    }

    std::vector<unsigned char> data_;
};

QlStr ui_language()
{
    QlStr code = load_message(kMsgUiLanguage);
    qlCheck(code.Length() == 2, kSource, kLineUiLanguage);
    return code;
}

bool in_range(const VersionBlock& file, const QlStr& range)
{
    int major = file.Major();
    return major >= 0 && major_in_range(major, range);
}

void show(int id)
{
    if (id != 0)
        message_box_id(id, load_message(id), MB_OK | MB_ICONINFORMATION, sink_main_window());
}

}  // namespace

bool major_in_range(int major, const QlStr& range)
{
    if (range.IsNull())
        return false;
    QlStr minimum = range;
    QlStr maximum;
    minimum.SplitAt(maximum, QL(','), 2);
    QlStr rest;
    maximum.SplitAt(rest, QL(','), 2);
    int low = _wtoi(minimum.Text() ? minimum.Text() : L"");
    int high = _wtoi(maximum.Text() ? maximum.Text() : L"");
    return low <= major && major <= high;
}

bool check_dll_version(const QlStr& library_path, int library_old_id, int builder_old_id)
{
    wchar_t own[2048];
    DWORD n = GetModuleFileNameW(nullptr, own, 2048);
    QlStr builderPath(own, n < 2048 ? static_cast<int>(n) : 0);
    VersionBlock builder(builderPath);
    if (!qlCheck(builder.Loaded(), kSource, kLineNoOwnBlock))
        return false;
    VersionBlock library(library_path);
    if (!library.Loaded()) {
        show(library_old_id);
        return false;
    }
    QlStr language = ui_language();
    QlStr libraryRange = builder.Value(name_of(library_path), language);
    QlStr builderRange = library.Value(name_of(builderPath), language);
    if (!in_range(library, libraryRange)) {
        show(library_old_id);
        return false;
    }
    if (!in_range(builder, builderRange)) {
        show(builder_old_id);
        return false;
    }
    return true;
}
