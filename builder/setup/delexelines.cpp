// The texts behind deletion at restart (pure code).
#include "builder/setup/delexelines.h"

namespace {

const char kSection[] = "[rename]";
const char kEntry[] = "nul=";

char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Case is folded for ASCII letters only: the bytes of other letters depend
// on the code page, and our own entries are compared with the very bytes we
// wrote.
bool begins_no_case(const std::string& line, const std::string& head)
{
    if (line.size() < head.size())
        return false;
    for (size_t i = 0; i < head.size(); ++i)
        if (fold(line[i]) != fold(head[i]))
            return false;
    return true;
}

std::string entry_line(const std::string& path)
{
    return std::string(kEntry) + path + "\n";
}

size_t find_section(const WininitLines& lines)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (begins_no_case(lines[i], kSection))
            return i;
    return lines.size();
}

}  // namespace

void wininit_schedule(WininitLines& lines, const std::string& path, const std::string& folder)
{
    size_t section = find_section(lines);
    if (section == lines.size()) {
        lines.insert(lines.begin(), std::string(kSection) + "\n");
        section = 0;
    }
    lines.insert(lines.begin() + section + 1, entry_line(path));
    if (!folder.empty())
        lines.insert(lines.begin() + section + 2, entry_line(folder));
}

bool wininit_cancel(WininitLines& lines, const std::string& path, const std::string& folder)
{
    size_t section = find_section(lines);
    if (section == lines.size())
        return false;
    const std::string file = entry_line(path);
    const std::string dir = folder.empty() ? std::string() : entry_line(folder);
    WininitLines kept(lines.begin(), lines.begin() + section + 1);
    for (size_t i = section + 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        // The whole line, line end included: "nul=C:\App" must not take
        // "nul=C:\App\x.exe" with it.
        bool ours = (line.size() == file.size() && begins_no_case(line, file)) ||
                    (!dir.empty() && line.size() == dir.size() && begins_no_case(line, dir));
        if (!ours)
            kept.push_back(line);
    }
    lines.swap(kept);
    return true;
}

QlStr restart_containing_folder(const QlStr& path)
{
    if (!path.HasText())
        return QlStr();
    QlStr folder = path.PathFolder();
    if (folder.HasText() && (folder.LastChar() == QL('\\') || folder.LastChar() == QL('/')))
        folder.DropLast();
    return folder;
}

bool restart_is_root(const QlStr& folder)
{
    if (!folder.HasText())
        return true;
    QlStr root = folder.PathRoot();
    QlStr drive = folder.PathDrive();
    return (root.HasText() && folder.EqualsNoCase(root.Text())) ||
           (drive.HasText() && folder.EqualsNoCase(drive.Text()));
}

PendingOperations split_pending_operations(const uint16_t* units, size_t count)
{
    std::vector<QlStr> strings;
    size_t at = 0;
    while (at < count) {
        size_t end = at;
        while (end < count && units[end] != 0)
            ++end;
        QlStr text;
        text.SetLength(int(end - at));
        QlChar* target = text.Buffer();
        for (size_t i = at; i < end; ++i)
            target[i - at] = QlChar(units[i]);
        strings.push_back(text);
        at = end + 1;
    }
    // Sources and targets pair up; an odd empty string at the end is the
    // value's final terminator, not a source.
    if (strings.size() % 2 == 1 && !strings.back().HasText())
        strings.pop_back();
    PendingOperations operations;
    for (size_t i = 0; i < strings.size(); i += 2)
        operations.push_back({strings[i], i + 1 < strings.size() ? strings[i + 1] : QlStr()});
    return operations;
}

int cancel_pending_operations(PendingOperations& operations, const QlStr& path,
                              const QlStr& folder)
{
    PendingOperations kept;
    int removed = 0;
    for (const PendingOperation& op : operations) {
        bool ours = (path.HasText() && op.source.MatchNoCase(path, 1)) ||
                    (folder.HasText() && op.source.MatchNoCase(folder, 1));
        if (ours)
            ++removed;
        else
            kept.push_back(op);
    }
    operations.swap(kept);
    return removed;
}

void pending_operation_strings(const PendingOperations& operations, QlStringList& out)
{
    out.RemoveAll();
    for (const PendingOperation& op : operations) {
        out.AddTail(op.source);
        out.AddTail(op.target);
    }
}
