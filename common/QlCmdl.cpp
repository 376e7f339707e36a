#include "common/QlCmdl.h"

#include "common/QlHooks.h"
#include "common/QlRaise.h"

namespace {

const char kSource[] = "QlCmdl";
enum : int {
    kLineRestNotToken = 127,
    kLineRestTooShort = 131,
};

bool is_separator(QlChar c)
{
    return c == QL('\\') || c == QL('/');
}

int skip_blanks(const QlChar* text, int length, int at)
{
    while (at < length && text[at] == QL(' '))
        ++at;
    return at;
}

}  // namespace

bool QlCmdLine::Reset(const QlStr& line)
{
    rest_ = line;
    rest_.TrimLeft();
    rest_.TrimRight();
    token_.Clear();
    return ParseToken();
}

void QlCmdLine::Clear()
{
    rest_.Clear();
    token_.Clear();
}

bool QlCmdLine::ParseToken()
{
    token_.Clear();
    const QlChar* text = rest_.Text();
    const int length = rest_.Length();
    if (text == nullptr || length == 0)
        return false;

    int end = 0;
    if (text[0] == QL('"')) {
        end = 1;
        while (end < length && text[end] != QL('"'))
            ++end;
        if (end == length)
            qlRaise(kQlCmdLineOpenQuote);
        ++end;  // the closing quote belongs to the token
    } else if (length > 2 && text[0] == QL('\\') && text[1] == QL('\\')) {
        // \\server name\share name\path: blanks may stand in the server and
        // share names, the path ends at the first blank.
        end = 2;
        while (end < length && text[end] != QL('\\'))
            ++end;
        if (end < length)
            ++end;
        while (end < length && !is_separator(text[end]))
            ++end;
        while (end < length && text[end] != QL(' '))
            ++end;
    } else {
        while (end < length && text[end] != QL(' '))
            ++end;
    }
    token_ = QlStr(text, end);
    return token_.HasText();
}

void QlCmdLine::DropToken()
{
    const int tokenLength = token_.Length();
    if (tokenLength == 0)
        return;
    const int restLength = rest_.Length();
    int cut = tokenLength;
    if (!qlCheck(restLength >= tokenLength, kSource, kLineRestTooShort))
        cut = restLength;
    else
        qlCheck(qlGutzCompareNoCaseSlashN(rest_.Text(), token_.Text(), tokenLength) == 0,
                kSource, kLineRestNotToken);
    const QlChar* text = rest_.Text();
    const int from = text ? skip_blanks(text, restLength, cut) : 0;
    rest_ = text ? QlStr(text + from, restLength - from) : QlStr();
    token_.Clear();
}

bool QlCmdLine::NextArg(QlStr& out)
{
    out.Clear();
    DropToken();
    ParseToken();
    out = token_;
    return out.HasText();
}

bool QlCmdLine::ArgAfter(int offset, QlStr& out)
{
    out.Clear();
    token_.Clear();
    const int restLength = rest_.Length();
    if (offset < 0)
        offset = 0;
    if (offset > restLength)
        offset = restLength;
    const QlChar* text = rest_.Text();
    rest_ = text ? QlStr(text + offset, restLength - offset) : QlStr();
    ParseToken();
    out = token_;
    return out.HasText();
}
