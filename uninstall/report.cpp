#include "report.h"
#include "file_system.h"
#include "text.h"

namespace {

const EnglishText MoreFormat = N_("\r\nand %d more");
// Room kept at the end of a list for its "and N more" line.
constexpr size_t MoreRoom = 24;

// Whether the list names the path on a line of its own.
bool Lists(const PathList& list, const char* path)
{
    char line[PathBufferSize];
    for (const char* at = list.text; *at;) {
        size_t length = 0;
        while (at[length] && at[length] != '\r')
            ++length;
        if (length < sizeof line) {
            for (size_t i = 0; i < length; ++i)
                line[i] = at[i];
            line[length] = '\0';
            if (SamePathText(line, path))
                return true;
        }
        at += length;
        at += *at == '\r' ? 2 : 0;
    }
    return false;
}

bool AddList(char* report, size_t size, const PathList& list, bool shown)
{
    if (!list.text[0])
        return true;
    char more[MoreRoom * 4];
    if (!FormatText(more, sizeof more, list.more ? (shown ? Translate(MoreFormat) : MoreFormat.text) : "", list.more))
        return false;
    return AppendText(report, size, "\r\n\r\n") && AppendText(report, size, shown ? Translate(list.heading) : list.heading.text)
        && AppendText(report, size, "\r\n") && AppendText(report, size, shown ? list.shown : list.text)
        && AppendText(report, size, more);
}

} // namespace

void AddPath(PathList& list, const char* path, const char* shown)
{
    shown = shown ? shown : path;
    if (Lists(list, path))
        return;
    size_t longer = TextLength(path) > TextLength(shown) ? TextLength(path) : TextLength(shown);
    if (TextLength(list.text) + 2 + longer + MoreRoom < sizeof list.text
        && TextLength(list.shown) + 2 + longer + MoreRoom < sizeof list.shown) {
        if (list.text[0]) {
            AppendText(list.text, sizeof list.text, "\r\n");
            AppendText(list.shown, sizeof list.shown, "\r\n");
        }
        AppendText(list.text, sizeof list.text, path);
        AppendText(list.shown, sizeof list.shown, shown);
    } else {
        ++list.more;
    }
}

bool ComposeReport(char* report, size_t size, const char* opening, const PathList* lists, int count, bool shown)
{
    if (!CopyText(report, size, opening))
        return false;
    for (int i = 0; i < count; ++i)
        if (!AddList(report, size, lists[i], shown))
            return false;
    return true;
}
