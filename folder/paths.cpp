#include "paths.h"
#include "text.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

} // namespace

void StripTrailingChar(char* text, char c)
{
    size_t length = TextLength(text);
    if (length && text[length - 1] == c)
        text[length - 1] = '\0';
}

void NormalizeSeparators(char* path)
{
    char* out = path;
    const char* in = path;
    // A network path keeps its leading pair: \\server\share is not \server\share on the current drive.
    if (IsSeparator(in[0]) && IsSeparator(in[1])) {
        while (IsSeparator(*in))
            ++in;
        if (*in) {
            *out++ = '\\';
            *out++ = '\\';
        } else {
            in = path;
        }
    }
    bool inRun = false;
    for (; *in; ++in) {
        bool separator = IsSeparator(*in);
        if (!separator)
            *out++ = *in;
        else if (!inRun)
            *out++ = '\\';
        inRun = separator;
    }
    *out = '\0';
}

bool BuildHomeProposal(const char* homeDrive, const char* homePath, const char* folderName, char* out, size_t size)
{
    const char* path = homePath ? homePath : "";
    bool fits;
    if (TextLength(path) >= 2 && path[1] == ':') {
        fits = CopyText(out, size, path);
    } else {
        fits = CopyText(out, size, homeDrive ? homeDrive : "C:");
        StripTrailingChar(out, '\\');
        StripTrailingChar(out, '/');
        fits = fits && AppendText(out, size, path);
    }
    StripTrailingChar(out, '\\');
    StripTrailingChar(out, '/');
    return fits && AppendText(out, size, "\\") && AppendText(out, size, folderName);
}

bool SplitProposal(const char* proposal, char* parent, size_t parentSize, char* name, size_t nameSize)
{
    const char* separator = nullptr;
    for (const char* p = proposal; *p; ++p)
        if (*p == '\\')
            separator = p;
    if (!separator)
        for (const char* p = proposal; *p; ++p)
            if (*p == '/')
                separator = p;
    if (!separator)
        return CopyText(parent, parentSize, proposal) && CopyText(name, nameSize, "");
    size_t parentLength = size_t(separator - proposal);
    if (parentLength >= parentSize) {
        parent[0] = '\0';
        return false;
    }
    for (size_t i = 0; i < parentLength; ++i)
        parent[i] = proposal[i];
    parent[parentLength] = '\0';
    return CopyText(name, nameSize, separator + 1);
}

bool JoinFolderFields(const char* parent, const char* name, char* out, size_t size)
{
    if (!CopyText(out, size, parent))
        return false;
    for (char* p = out; *p; ++p)
        if (*p == '/')
            *p = '\\';
    size_t length = TextLength(out);
    if (length == 0 || out[length - 1] != '\\')
        if (!AppendText(out, size, "\\"))
            return false;
    return AppendText(out, size, name);
}

bool EndsWithFolderName(const char* path, const char* folderName)
{
    size_t pathLength = TextLength(path);
    size_t nameLength = TextLength(folderName);
    if (pathLength < nameLength)
        return false;
    const char* tail = path + pathLength - nameLength;
    for (size_t i = 0; i < nameLength; ++i) {
        char a = tail[i], b = folderName[i];
        if (a >= 'a' && a <= 'z')
            a = char(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = char(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}
