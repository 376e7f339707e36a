// The stub's command-line scans (see sfxswitch.h). No Windows calls here:
// the callers load the switch words and show the messages.
#include "stub/sfxswitch.h"

#include "common/QlGutz.h"

namespace {

bool is_blank(QlChar unit) { return unit == QL(' ') || unit == QL('\t'); }

// True when text[at..] begins with word, case ignored (msvcrt's rules).
bool begins_with_no_case(const QlStr& text, int at, const QlChar* word)
{
    int length = static_cast<int>(qlGutzStrLen(word));
    if (length == 0 || text.Length() - at < length)
        return false;
    const QlChar* p = text.Text() + at;
    for (int i = 0; i < length; ++i) {
        if (qlGutzPlatformToUpper(p[i]) != qlGutzPlatformToUpper(word[i]))
            return false;
    }
    return true;
}

bool begins_with(const QlStr& upper, const QlStr& word)
{
    return word.HasText() && upper.Length() >= word.Length() &&
           qlGutzStrLen(word.Text()) == static_cast<size_t>(word.Length()) &&
           upper.Left(word.Length()) == word;
}

// First "-" or "/" at or after start; -1 when there is none.
int find_switch_char(const QlStr& text, int start)
{
    for (int i = start; i < text.Length(); ++i) {
        QlChar unit = text.Text()[i];
        if (unit == QL('-') || unit == QL('/'))
            return i;
    }
    return -1;
}

int find_char(const QlStr& text, QlChar unit, int start)
{
    for (int i = start; i < text.Length(); ++i) {
        if (text.Text()[i] == unit)
            return i;
    }
    return -1;
}

QlStr trimmed(QlStr text)
{
    text.TrimLeft();
    text.TrimRight();
    return text;
}

QlStr upper_copy(const QlStr& text)
{
    QlStr upper(text);
    upper.MakeUpper();
    return upper;
}

const QlChar kMarkerSuffix[] = QL(" run=1 shortcut=\"");

}  // namespace

QlStr sfx_line_behind_program(const QlStr& line)
{
    const QlChar* text = line.Text();
    int length = line.Length();
    if (text == nullptr || length == 0)
        return QlStr();
    if (text[0] == QL('"')) {
        int close = find_char(line, QL('"'), 1);
        return close < 0 ? QlStr() : line.MidFrom(close + 1);
    }
    for (int i = 0; i < length; ++i) {
        if (is_blank(text[i]))
            return line.MidFrom(i);
    }
    return QlStr();
}

SfxRelaunchMarkers sfx_find_relaunch_markers(const QlStr& line)
{
    SfxRelaunchMarkers markers{false, QlStr(), QlStr()};
    QlStr text = line.IsNull() ? QlStr() : line;
    // The suffix the first instance wrote: the path behind it holds no quote
    // (no Windows path can), so the last marker before the closing quote is ours.
    QlStr padded = QlStr(QL(" ")) + text;
    padded.TrimRight();
    const int suffix_length = static_cast<int>(qlGutzStrLen(kMarkerSuffix));
    if (padded.Length() > suffix_length && padded.LastChar() == QL('"')) {
        int open = padded.FindLastChar(QL('"'), padded.Length() - 2);
        int marker = open + 1 - suffix_length;
        if (open > 0 && marker >= 0 && begins_with_no_case(padded, marker, kMarkerSuffix)) {
            markers.found = true;
            markers.shortcut = padded.Mid(open + 1, padded.Length() - open - 2);
            markers.user_line = trimmed(padded.Left(marker));
            return markers;
        }
    }
    // A whole argument run=1 typed by hand (outside quotes) also makes a copy.
    bool quoted = false;
    int word_start = -1;
    bool word_quoted = false;
    for (int i = 0; i <= text.Length(); ++i) {
        QlChar unit = i < text.Length() ? text.Text()[i] : QL(' ');
        if (is_blank(unit) && !quoted) {
            if (word_start >= 0 && !word_quoted && i - word_start == 5 &&
                begins_with_no_case(text, word_start, QL("run=1"))) {
                markers.found = true;
                markers.user_line = trimmed(text.Left(word_start) + text.MidFrom(i));
                return markers;
            }
            word_start = -1;
            continue;
        }
        if (word_start < 0) {
            word_start = i;
            word_quoted = false;
        }
        if (unit == QL('"')) {
            quoted = !quoted;
            word_quoted = true;
        }
    }
    markers.user_line = trimmed(text);
    return markers;
}

SfxStartupSwitch sfx_scan_startup_switches(const QlStr& line, QlChar* extra_args,
                                           int extra_units, QlStr* bad_text)
{
    for (int i = 0; i < extra_units; ++i)
        extra_args[i] = 0;
    QlStr copy = trimmed(line.IsNull() ? QlStr() : line);
    while (copy.HasText()) {
        if (begins_with_no_case(copy, 0, QL("-info")))
            return SfxStartupSwitch::Info;
        if (begins_with_no_case(copy, 0, QL("-args=")) ||
            begins_with_no_case(copy, 0, QL("/args="))) {
            *bad_text = copy;
            QlStr rest = copy.MidFrom(6);
            if (!rest.HasText() || rest.FirstChar() != QL('"'))
                return SfxStartupSwitch::Invalid;
            int close = find_char(rest, QL('"'), 1);
            if (close < 0)
                return SfxStartupSwitch::Invalid;
            int units = close - 1;
            if (units == 0 || units >= extra_units)
                return SfxStartupSwitch::Invalid;
            for (int i = 0; i < units; ++i)
                extra_args[i] = rest.Text()[1 + i];
            extra_args[units] = 0;
            copy = rest.MidFrom(close + 1);
            continue;
        }
        int blank = find_char(copy, QL(' '), 0);
        copy = blank < 0 ? QlStr() : copy.MidFrom(blank + 1);
    }
    return SfxStartupSwitch::Go;
}

void sfx_parse_install_switches(const QlStr& line, const SfxSwitchWords& words,
                                SfxSwitchState* state)
{
    QlStr wait_word = upper_copy(words.wait_word);
    QlStr noauto_word = upper_copy(words.noauto_word);
    QlStr auto_word = upper_copy(words.auto_word);
    QlStr copy = line.IsNull() ? QlStr() : line;
    while (copy.HasText()) {
        int at = find_switch_char(copy, 0);
        if (at < 0)
            break;
        copy = copy.MidFrom(at + 1);
        QlStr upper = upper_copy(copy);
        // Prefix tests: a longer word that begins with a switch word counts as it.
        if (begins_with(upper, wait_word)) {
            state->wait_for_done = true;
            break;
        }
        if (begins_with(upper, noauto_word)) {
            state->auto_start = false;
            break;
        }
        if (begins_with(upper, auto_word))
            state->auto_start = true;
    }
}

void sfx_parse_standard_switches(const QlStr& line, const SfxSwitchWords& words,
                                 int folder_max_units, SfxSwitchState* state)
{
    QlStr noauto_word = upper_copy(words.noauto_word);
    QlStr auto_word = upper_copy(words.auto_word);
    QlStr copy = line.IsNull() ? QlStr() : line;
    while (copy.HasText()) {
        int at = find_switch_char(copy, 0);
        if (at < 0)
            break;
        copy = copy.MidFrom(at + 1);
        QlStr upper = upper_copy(copy);
        if (begins_with(upper, noauto_word)) {
            state->auto_start = false;
            break;
        }
        if (!begins_with(upper, auto_word))
            continue;
        state->auto_start = true;
        copy = copy.MidFrom(auto_word.Length());
        copy.TrimLeft();
        QlStr value;
        if (copy.HasText() && copy.FirstChar() == QL('"')) {
            int close = find_char(copy, QL('"'), 1);
            if (close >= 0) {
                value = copy.Mid(1, close - 1);
                copy = copy.MidFrom(close + 1);
            } else {
                int next = find_switch_char(copy, 1);
                value = next < 0 ? copy.MidFrom(1) : copy.Mid(1, next - 1);
                value = trimmed(value);
                copy = next < 0 ? QlStr() : copy.MidFrom(next);
            }
        } else {
            value = copy;
            value.TrimRight();
            copy = QlStr();
        }
        if (value.HasText()) {
            if (value.Length() > folder_max_units) {
                state->auto_start = false;
                break;
            }
            state->folder = value;
        }
    }
}
