#include "names.h"
#include "path_limits.h"
#include "text.h"

const char StagedSuffix[] = ".pmnew";
const char SetAsideSuffix[] = ".pmold";
const char MovedAwaySuffix[] = ".pmdel";
const char InstallRecordName[] = "pmfiles.lst";
const char RecordedLinkPrefix[] = "link:";
const char RecordedProductPrefix[] = "product:";
const char RecordedLanguagePrefix[] = "language:";
const char ReservedDeviceProblem[] = "uses a device name Windows reserves";

namespace {

bool StartsWith(const char* text, const char* prefix, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] != prefix[i])
            return false;
    return true;
}

// What follows the prefix on a record's line; null when the line has no such prefix or nothing after it.
const char* AfterPrefix(const char* line, const char* prefix)
{
    size_t length = TextLength(prefix);
    return StartsWith(line, prefix, length) && line[length] ? line + length : nullptr;
}

// Device names Windows reserves in every folder, with or without an
// extension, compared without case: its stem, up to the first dot, without
// trailing blanks. (The packer also knows COM and LPT with superscript digits.)
bool IsReservedDevice(const char* begin, const char* end)
{
    const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$", "COM", "LPT"};
    const char* stemEnd = begin;
    while (stemEnd < end && *stemEnd != '.')
        ++stemEnd;
    while (stemEnd > begin && stemEnd[-1] == ' ')
        --stemEnd;
    for (const char* device : devices) {
        size_t length = TextLength(device);
        bool numbered = TextEquals(device, "COM") || TextEquals(device, "LPT");
        size_t stemLength = size_t(stemEnd - begin);
        if (stemLength != length + (numbered ? 1 : 0))
            continue;
        bool same = true;
        for (size_t i = 0; i < length && same; ++i) {
            char c = begin[i];
            same = (c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) == device[i];
        }
        if (same && (!numbered || (begin[length] >= '0' && begin[length] <= '9')))
            return true;
    }
    return false;
}

// The problem of the component from begin to end, or null.
const char* ComponentProblem(const char* begin, const char* end)
{
    size_t length = size_t(end - begin);
    if (length == 0)
        return "has an empty component";
    if ((length == 1 && begin[0] == '.') || (length == 2 && begin[0] == '.' && begin[1] == '.'))
        return "has a '.' or '..' component";
    for (const char* c = begin; c < end; ++c)
        if (IsRefusedInNames(*c))
            return "has a character Windows refuses in names";
    if (end[-1] == '.' || end[-1] == ' ')
        return "has a component ending in a dot or a space";
    if (IsReservedDevice(begin, end))
        return ReservedDeviceProblem;
    return nullptr;
}

// Whether the name ends in the suffix, whatever the case of its letters.
bool EndsWithSuffix(const char* name, const char* suffix)
{
    size_t length = TextLength(name);
    size_t suffixLength = TextLength(suffix);
    if (length < suffixLength)
        return false;
    for (size_t i = 0; i < suffixLength; ++i) {
        char c = name[length - suffixLength + i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != suffix[i])
            return false;
    }
    return true;
}

} // namespace

size_t FolderPartLength(const char* path, size_t length)
{
    while (length > 0 && !IsSeparator(path[length - 1]))
        --length;
    return length;
}

bool CopyFolderPart(const char* path, char* out, size_t size)
{
    size_t length = FolderPartLength(path, TextLength(path));
    return length > 1 && CopyTextPrefix(out, size, path, length - 1);
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsRefusedInNames(char c)
{
    if (static_cast<unsigned char>(c) < 32)
        return true;
    for (const char* refused = "<>:\"|?*"; *refused; ++refused)
        if (c == *refused)
            return true;
    return false;
}

bool IsSystemName(const char* name)
{
    return StartsWith(name, "SYSTEM\\", SystemPrefixLength) || StartsWith(name, "SYSTEM/", SystemPrefixLength);
}

size_t BrokenNameLimit(const char* folder, const char* name)
{
    // Windows counts the limits in characters; a buffer of bytes holds any path that keeps them.
    char path[PathBufferSize];
    if (!FormatText(path, sizeof path, "%s\\%s", folder, name) || TextCharacters(path) >= FilePathLimit)
        return FilePathLimit;
    // Cut the file's name off: what is left is the deepest folder the name needs.
    size_t end = 0;
    for (size_t i = 0; path[i]; ++i)
        if (IsSeparator(path[i]))
            end = i;
    path[end] = '\0';
    // The installation folder itself is not made by the extraction.
    if (TextLength(path) <= TextLength(folder))
        return 0;
    return TextCharacters(path) < FolderPathLimit ? 0 : FolderPathLimit;
}

const char* ComponentsProblem(const char* path)
{
    for (const char* begin = path;;) {
        const char* end = begin;
        while (*end && !IsSeparator(*end))
            ++end;
        if (const char* problem = ComponentProblem(begin, end))
            return problem;
        if (!*end)
            return nullptr;
        begin = end + 1;
    }
}

const char* FullPathProblem(const char* path)
{
    bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (!letter || path[1] != ':' || !IsSeparator(path[2]))
        return "is not a full path on a drive";
    return ComponentsProblem(path + 3);
}

const char* StoredNameProblem(const char* name)
{
    if (!name[0])
        return "is empty";
    if (IsSeparator(name[0]))
        return "begins with a separator";
    if (name[1] == ':')
        return "has a drive";
    const char* rest = name;
    if (IsSystemName(name)) {
        rest = name + SystemPrefixLength;
        if (!rest[0])
            return "names the system folder without a file";
    }
    if (const char* problem = ComponentsProblem(rest))
        return problem;
    if (EndsWithSuffix(name, StagedSuffix) || EndsWithSuffix(name, SetAsideSuffix) || EndsWithSuffix(name, MovedAwaySuffix))
        return "ends in .pmnew, .pmold or .pmdel, which the setup gives the files it writes and replaces";
    if (EndsWithSuffix(name, InstallRecordName) && TextLength(name) == TextLength(InstallRecordName))
        return "is pmfiles.lst, the setup's record of the files it wrote";
    return nullptr;
}

const char* RecordedLinkPath(const char* line)
{
    return AfterPrefix(line, RecordedLinkPrefix);
}

const char* RecordedProductName(const char* line)
{
    return AfterPrefix(line, RecordedProductPrefix);
}

const char* RecordedLanguageName(const char* line)
{
    return AfterPrefix(line, RecordedLanguagePrefix);
}

bool SuffixedPath(const char* path, const char* suffix, int number, char* out, size_t size)
{
    if (number == 0)
        return FormatText(out, size, "%s%s", path, suffix);
    return FormatText(out, size, "%s.%d%s", path, number, suffix);
}
