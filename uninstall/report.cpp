#include "report.h"
#include "file_system.h"
#include "text.h"

namespace {

const char MoreFormat[] = "\r\nand %d more";
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

bool AddList(char* report, size_t size, const PathList& list)
{
    if (!list.text[0])
        return true;
    char more[MoreRoom];
    if (!FormatText(more, sizeof more, list.more ? MoreFormat : "", list.more))
        return false;
    return AppendText(report, size, "\r\n\r\n") && AppendText(report, size, list.heading)
        && AppendText(report, size, "\r\n") && AppendText(report, size, list.text)
        && AppendText(report, size, more);
}

} // namespace

void AddPath(PathList& list, const char* path)
{
    if (Lists(list, path))
        return;
    if (TextLength(list.text) + 2 + TextLength(path) + MoreRoom < sizeof list.text) {
        if (list.text[0])
            AppendText(list.text, sizeof list.text, "\r\n");
        AppendText(list.text, sizeof list.text, path);
    } else {
        ++list.more;
    }
}

bool ComposeReport(char* report, size_t size, const char* opening, const PathList* lists, int count)
{
    if (!CopyText(report, size, opening))
        return false;
    for (int i = 0; i < count; ++i)
        if (!AddList(report, size, lists[i]))
            return false;
    return true;
}
