#include "manifest.h"
#include "derived_texts.h"
#include "names.h"
#include "path_limits.h"
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iconv.h>
#include <locale>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>

namespace {

const char* const TextFields[] = {"folderName", "displayName", "profileFile", "startupPrompt", "mainExecutable",
    "startupArguments", "serviceExecutable", "servicePrompt"};
const char* const NumberFields[] = {"offerStartupGroup", "warnOfRunningCopies", "startupMinimized",
    "useAgentService", "requiredMegabytes"};
// The record's order.
const char* const FieldOrder[] = {"folderName", "displayName", "profileFile", "offerStartupGroup", "startupPrompt",
    "mainExecutable", "startupArguments", "warnOfRunningCopies", "startupMinimized", "useAgentService",
    "serviceExecutable", "servicePrompt", "requiredMegabytes"};
const char* const PathFields[] = {"agreement", "icon"};
constexpr size_t MaxTextLength = 1023;
// The Windows ANSI code pages the texts may be in. Double-byte ones are
// refused: the folder logic walks paths byte by byte, and a trail byte can be
// a backslash.
constexpr int64_t DefaultCodePage = 1252;
const int64_t SingleByteCodePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
const int64_t DoubleByteCodePages[] = {932, 936, 949, 950, 1361};
const char* const ReservedNames[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
    "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool Contains(const char* const* list, size_t count, const std::string& name)
{
    return std::find(list, list + count, name) != list + count;
}

template <size_t N> bool In(const char* const (&list)[N], const std::string& name)
{
    return Contains(list, N, name);
}

template <size_t N> bool In(const int64_t (&list)[N], int64_t value)
{
    return std::find(list, list + N, value) != list + N;
}

bool ParseInteger(const std::string& text, int64_t& value)
{
    if (text.empty())
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size() || text.size() > 12)
        return false;
    for (size_t k = i; k < text.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(text[k])))
            return false;
    value = std::stoll(text);
    return true;
}

// One converter for one direction, closed with its owner.
class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (Valid())
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    // Converts as much as it can; the input's unconverted rest is left in `rest`.
    std::string Convert(const std::string& text, size_t& rest, size_t roomPerByte)
    {
        std::string out(text.size() * roomPerByte + 16, '\0');
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* put = &out[0];
        size_t outLeft = out.size();
        iconv(handle_, &in, &inLeft, &put, &outLeft);
        // A stateful code page may hold a character back until the end.
        if (inLeft == 0)
            iconv(handle_, nullptr, nullptr, &put, &outLeft);
        out.resize(out.size() - outLeft);
        rest = inLeft;
        return out;
    }

private:
    iconv_t handle_;
};

std::wstring Wide(const std::string& utf8)
{
    Converter converter("WCHAR_T", "UTF-8");
    size_t rest = 0;
    std::string bytes = converter.Valid() ? converter.Convert(utf8, rest, sizeof(wchar_t)) : "";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// "the character 'Ж' (U+0416)" for the character a text begins with; empty
// when the text does not begin with a whole UTF-8 character.
std::string NameCharacter(const std::string& text)
{
    for (size_t length = 1; length <= 4 && length <= text.size(); ++length) {
        Converter converter("UTF-32LE", "UTF-8");
        size_t rest = 0;
        std::string code = converter.Valid() ? converter.Convert(text.substr(0, length), rest, 4) : "";
        if (rest != 0 || code.size() != 4)
            continue;
        uint32_t point = uint8_t(code[0]) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16;
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", point);
        return "the character '" + text.substr(0, length) + "' (" + hex + ")";
    }
    return "";
}

bool FitsStoredTime(int64_t seconds)
{
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

// Windows folds letter case in names, in every script, and takes / for \;
// the system prefix itself is exact, so SYSTEM\x and system\x are different
// files. Names as written, in UTF-8.
bool SameFile(const std::string& a, const std::string& b)
{
    static const std::locale unicode("C.UTF-8");
    auto key = [](const std::string& name) {
        std::wstring folded = Wide(name);
        for (wchar_t& c : folded)
            c = c == L'/' ? L'\\' : std::toupper(c, unicode);
        return (IsSystemName(name.c_str()) ? L"system:" : L"folder:") + folded;
    };
    return key(a) == key(b);
}

std::string Directory(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool Readable(const std::string& path, int64_t* modified)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    if (modified)
        *modified = int64_t(info.st_mtime);
    return true;
}

// The first readable place for a source path: the manifest's folder, then the search folders.
bool FindSource(const std::string& source, const std::string& manifestDir, const std::vector<std::string>& search,
    std::string& found, int64_t* modified)
{
    if (!source.empty() && source[0] == '/') {
        found = source;
        return Readable(found, modified);
    }
    std::vector<std::string> bases = {manifestDir};
    bases.insert(bases.end(), search.begin(), search.end());
    for (const std::string& base : bases) {
        found = base + "/" + source;
        if (Readable(found, modified))
            return true;
    }
    return false;
}

// Fields that may be left out, and what stands in for them.
struct OptionalText {
    const char* name;
    const char* fallback;
};
const OptionalText OptionalTexts[] = {
    {"publisher", ""}, {"version", ""}, {"compression", "default"}, {"url", ""}};
// Read before the texts, which it converts.
const char CodePageField[] = "codePage";
const char* const CompressionSettings[] = {"default", "smallest"};

bool OptionalField(const std::string& name)
{
    return std::any_of(std::begin(OptionalTexts), std::end(OptionalTexts),
        [&](const OptionalText& option) { return name == option.name; });
}

struct Entry {
    std::string value;
    int line = 0;
};

struct RawManifest {
    std::map<std::string, Entry> fields;
    std::vector<Entry> files;
};

// A text field in the product's code page, within the length every text may have.
template <typename Fail>
bool ConvertText(const std::string& name, const Entry& entry, int codePage, std::string& value, Fail fail)
{
    std::string problem;
    if (!ToCodePage(entry.value, codePage, value, problem, nullptr)) {
        fail(entry.line, "field '" + name + "': " + problem);
        return false;
    }
    if (value.size() > MaxTextLength) {
        fail(entry.line, "field '" + name + "': longer than 1023 bytes");
        return false;
    }
    return true;
}

// Every text the run derives from the installation folder must fit its buffer
// for some folder: when even C:\ and the folder name leave no room, every
// folder the user could choose would be refused.
template <typename Fail>
void CheckRoomInAShortFolder(const Manifest& manifest, std::map<std::string, Entry>& seen, Fail fail)
{
    auto text = [&](const char* name) { return manifest.Field(name); };
    std::string texts[] = {text("folderName"), text("displayName"), text("profileFile"), text("startupPrompt"),
        text("mainExecutable"), text("startupArguments"), text("serviceExecutable"), text("servicePrompt")};
    ProductConfigRecord product = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), 0, texts[3].c_str(),
        texts[4].c_str(), texts[5].c_str(), 0, int32_t(std::stol(text("startupMinimized"))), 0, texts[6].c_str(),
        texts[7].c_str(), 0};
    std::string folder = "C:\\" + texts[0];
    if (const DerivedTextRule* rule = BrokenDerivedText(product, folder.c_str())) {
        std::string fields = rule->fields;
        std::string first = fields.substr(0, fields.find(','));
        std::string named = " '" + first + "'";
        if (first.size() < fields.size())
            named = "s '" + first + "' and '" + fields.substr(first.size() + 2) + "'";
        fail(seen[first].line, "field" + named + ": too long for any folder: even in " + folder + ", "
                + rule->text + " would be longer than " + std::to_string(rule->size - 1) + " characters");
    }
    for (const ManifestFile& file : manifest.files) {
        size_t limit = IsSystemName(file.name.c_str()) ? 0 : BrokenNameLimit(folder.c_str(), file.name.c_str());
        if (limit == FilePathLimit)
            fail(file.line, "file '" + file.written + "': too long for any folder: even in " + folder
                    + ", its path would be longer than the " + std::to_string(limit - 1)
                    + " characters the file functions take");
        else if (limit == FolderPathLimit)
            fail(file.line, "file '" + file.written + "': too long for any folder: even in " + folder
                    + ", the folder it needs would be longer than the " + std::to_string(limit - 1)
                    + " characters a new folder may have");
    }
}

// First pass: the lines into fields and file entries, with the problems of form.
template <typename Fail> void ReadLines(std::istream& in, RawManifest& raw, Fail fail)
{
    std::string section;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        text = Trim(text);
        if (text.empty() || text[0] == ';' || text[0] == '#')
            continue;
        if (text[0] == '[') {
            section = text;
            if (section != "[product]" && section != "[files]")
                fail(line, "unknown section " + section);
            continue;
        }
        size_t equals = text.find('=');
        if (equals == std::string::npos) {
            fail(line, "expected 'name = value'");
            continue;
        }
        std::string key = Trim(text.substr(0, equals));
        std::string value = Trim(text.substr(equals + 1));
        if (section == "[files]") {
            if (key != "file")
                fail(line, "unknown entry '" + key + "' in [files]; expected 'file = name | source [| time]'");
            else
                raw.files.push_back({value, line});
            continue;
        }
        if (section != "[product]") {
            fail(line, "entry outside the [product] and [files] sections");
            continue;
        }
        if (!In(TextFields, key) && !In(NumberFields, key) && !In(PathFields, key) && !OptionalField(key)
            && key != CodePageField) {
            fail(line, "unknown field '" + key + "'");
            continue;
        }
        if (raw.fields.count(key)) {
            fail(line, "field '" + key + "' is repeated (first on line " + std::to_string(raw.fields[key].line) + ")");
            continue;
        }
        raw.fields[key] = {value, line};
    }
}

// One [files] entry: its stored name, source and time.
template <typename Fail>
bool ReadFile(const Entry& entry, const std::string& manifestDir, const std::vector<std::string>& searchDirs,
    Sources sources, int codePage, ManifestFile& file, Fail fail)
{
    const std::string& value = entry.value;
    int line = entry.line;
    file.line = line;
    size_t bar = value.find('|');
    size_t bar2 = bar == std::string::npos ? bar : value.find('|', bar + 1);
    std::string name = Trim(value.substr(0, bar));
    file.source = bar == std::string::npos
        ? ""
        : Trim(value.substr(bar + 1, bar2 == std::string::npos ? std::string::npos : bar2 - bar - 1));
    file.written = name;
    std::string problem;
    if (!ToCodePage(name, codePage, file.name, problem, nullptr)) {
        fail(line, "file '" + name + "': " + problem);
        return false;
    }
    problem = CheckStoredName(file.name);
    if (!problem.empty()) {
        fail(line, "file '" + name + "': the stored name " + problem);
        return false;
    }
    if (file.source.empty()) {
        fail(line, "file '" + name + "': no source path");
        return false;
    }
    if (bar2 != std::string::npos) {
        if (!ParseInteger(Trim(value.substr(bar2 + 1)), file.time) || !FitsStoredTime(file.time)) {
            fail(line, "file '" + name + "': the stored time is not a signed 32-bit number of seconds since 1970");
            return false;
        }
        file.hasTime = true;
    }
    if (sources == Sources::Ignore)
        return true;
    std::string found;
    int64_t modified = 0;
    if (!FindSource(file.source, manifestDir, searchDirs, found, &modified)) {
        fail(line, "file '" + name + "': the source " + file.source + " is missing or unreadable");
        return false;
    }
    file.source = found;
    if (!file.hasTime) {
        if (!FitsStoredTime(modified)) {
            fail(line, "file '" + name + "': the source's time, " + std::to_string(modified)
                    + " seconds since 1970, does not fit a signed 32-bit stored time; give the file a stored time");
            return false;
        }
        file.time = modified;
    }
    return true;
}

// The agreement, written in UTF-8, in the product's code page; a problem is
// reported with its line in the agreement's own file.
void ConvertAgreement(Manifest& manifest, std::vector<std::string>& errors)
{
    std::ifstream in(manifest.agreement, std::ios::binary);
    std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string problem;
    size_t at = 0;
    if (!in.bad() && ToCodePage(utf8, manifest.codePage, manifest.agreementText, problem, &at))
        return;
    int line = 1 + int(std::count(utf8.begin(), utf8.begin() + std::min(at, utf8.size()), '\n'));
    errors.push_back(manifest.agreement + ":" + std::to_string(line) + ": "
        + (problem.empty() ? "cannot be read" : problem));
}

} // namespace

bool IsNumberField(const std::string& name)
{
    return In(NumberFields, name);
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Manifest::Field(const std::string& name) const
{
    for (const auto& field : fields)
        if (field.first == name)
            return field.second;
    auto option = options.find(name);
    return option == options.end() ? "" : option->second;
}

bool ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& problem, size_t* at)
{
    Converter converter(("CP" + std::to_string(codePage)).c_str(), "UTF-8");
    if (!converter.Valid()) {
        problem = "code page " + std::to_string(codePage) + " is not known to this machine's iconv";
        return false;
    }
    size_t rest = 0;
    out = converter.Convert(utf8, rest, 2);
    size_t offset = utf8.size() - rest;
    if (rest == 0 && utf8.find('\0') == std::string::npos)
        return true;
    if (rest == 0) {
        // A zero byte would end the text where the setup reads it.
        offset = utf8.find('\0');
        problem = "holds a zero byte";
    } else {
        std::string character = NameCharacter(utf8.substr(offset));
        problem = character.empty() ? "holds bytes that are not UTF-8"
                                    : character + " has no place in code page " + std::to_string(codePage);
    }
    if (at)
        *at = offset;
    return false;
}

std::string CheckStoredName(const std::string& name)
{
    if (name.empty())
        return "is empty";
    if (name.size() > MaxTextLength)
        return "is longer than 1023 bytes";
    if (name[0] == '/' || name[0] == '\\')
        return "begins with a separator";
    if (name.size() >= 2 && name[1] == ':')
        return "has a drive";
    std::string rest = name;
    if (name.compare(0, 7, "SYSTEM\\") == 0 || name.compare(0, 7, "SYSTEM/") == 0) {
        rest = name.substr(7);
        if (rest.empty())
            return "names the system folder without a file";
    }
    size_t start = 0;
    for (;;) {
        size_t end = rest.find_first_of("/\\", start);
        std::string component = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (component.empty())
            return "has an empty component";
        if (component == "." || component == "..")
            return "has a '.' or '..' component";
        for (char c : component) {
            unsigned char u = static_cast<unsigned char>(c);
            if (u < 32 || std::string("<>:\"|?*").find(c) != std::string::npos)
                return std::string("has a character Windows refuses in names");
        }
        if (component.back() == '.' || component.back() == ' ')
            return "has a component ending in a dot or a space";
        std::string stem = Upper(component.substr(0, component.find('.')));
        while (!stem.empty() && stem.back() == ' ')
            stem.pop_back();
        if (In(ReservedNames, stem))
            return "uses the reserved device name " + stem;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return "";
}

bool ReadManifest(const std::string& path, const std::vector<std::string>& searchDirs, Sources sources,
    Manifest& manifest, std::vector<std::string>& errors)
{
    manifest = Manifest();
    manifest.path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors.push_back(path + ": cannot be read");
        return false;
    }
    std::string manifestDir = Directory(path);
    auto fail = [&](int line, const std::string& what) {
        errors.push_back(path + ":" + std::to_string(line) + ": " + what);
    };

    RawManifest raw;
    ReadLines(in, raw, fail);
    auto& seen = raw.fields;
    // Every text is converted to the code page, so it comes first.
    int64_t codePage = DefaultCodePage;
    if (seen.count(CodePageField)) {
        const Entry& entry = seen[CodePageField];
        std::string problem;
        if (!ParseInteger(entry.value, codePage))
            problem = "not a whole number";
        else if (In(DoubleByteCodePages, codePage))
            problem = std::to_string(codePage) + " is a double-byte code page, in which a path's byte may be a "
                "backslash that is not one; use a single-byte Windows code page: 874, or 1250 to 1258";
        else if (!In(SingleByteCodePages, codePage))
            problem = "unknown code page " + entry.value + "; use a single-byte Windows code page: 874, or 1250 to "
                      "1258";
        if (!problem.empty()) {
            fail(entry.line, "field 'codePage': " + problem);
            return false;
        }
    }
    manifest.codePage = int(codePage);
    for (const Entry& entry : raw.files) {
        ManifestFile file;
        if (!ReadFile(entry, manifestDir, searchDirs, sources, manifest.codePage, file, fail))
            continue;
        for (const ManifestFile& other : manifest.files)
            if (SameFile(other.written, file.written))
                fail(file.line, "file '" + file.written + "': names the same file as line "
                                    + std::to_string(other.line) + " (letter case and the kind of separator do not count)");
        manifest.files.push_back(file);
    }

    for (const char* name : FieldOrder)
        if (!seen.count(name))
            errors.push_back(path + ": field '" + std::string(name) + "' is missing");
    for (const char* name : PathFields)
        if (!seen.count(name))
            errors.push_back(path + ": field '" + std::string(name) + "' is missing");
    if (!errors.empty())
        return false;

    for (const char* name : FieldOrder) {
        const Entry& entry = seen[name];
        std::string value;
        if (In(NumberFields, name)) {
            int64_t number;
            if (!ParseInteger(entry.value, number) || number < INT32_MIN || number > INT32_MAX) {
                fail(entry.line, "field '" + std::string(name) + "': not a whole number");
                continue;
            }
            if (std::string(name) == "requiredMegabytes" && (number < 0 || number > 4095))
                fail(entry.line, "field 'requiredMegabytes': must be 0 to 4095");
            value = std::to_string(number);
        } else if (!ConvertText(name, entry, manifest.codePage, value, fail)) {
            continue;
        }
        manifest.written[name] = entry.value;
        manifest.fields.push_back({name, value});
    }
    for (const OptionalText& option : OptionalTexts) {
        std::string value = option.fallback;
        if (seen.count(option.name) && !ConvertText(option.name, seen[option.name], manifest.codePage, value, fail))
            continue;
        manifest.written[option.name] = seen.count(option.name) ? seen[option.name].value : option.fallback;
        manifest.options[option.name] = value;
    }
    if (!errors.empty())
        return false;

    int displayLine = seen["displayName"].line;
    std::string display = manifest.Field("displayName");
    if (manifest.Field("folderName").empty())
        fail(seen["folderName"].line, "field 'folderName': must not be empty");
    if (display.empty())
        fail(displayLine, "field 'displayName': must not be empty");
    if (!In(CompressionSettings, manifest.Field("compression")))
        fail(seen["compression"].line, "field 'compression': unknown setting '" + manifest.Field("compression")
                                           + "'; use default or smallest");
    std::string url = manifest.Field("url");
    if (!url.empty() && url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0)
        fail(seen["url"].line, "field 'url': must begin with https:// or http://");
    std::string profile = manifest.Field("profileFile");
    if (profile.empty() || profile.find_first_of("\\/:") != std::string::npos)
        fail(seen["profileFile"].line, "field 'profileFile': must be a bare file name, which Windows keeps in its own "
                                       "folder");
    for (const std::string& title : {"Install " + display, std::string("Setup Progress")})
        if (!display.empty() && title.compare(0, display.size(), display) == 0)
            fail(displayLine, "field 'displayName': begins the setup's own window title '" + title
                                  + "', so the setup would tell itself to quit");
    for (const char* top : {"mainExecutable", "pmuninst.exe"}) {
        std::string wanted = std::string(top) == "mainExecutable" ? manifest.Field("mainExecutable") : top;
        bool present = std::any_of(manifest.files.begin(), manifest.files.end(),
            [&](const ManifestFile& f) { return f.name == wanted; });
        if (!present)
            errors.push_back(path + ": no payload file named '" + wanted
                + "' at the top of the installation folder");
    }
    if (errors.empty())
        CheckRoomInAShortFolder(manifest, seen, fail);
    for (const char* name : PathFields) {
        std::string found;
        if (!FindSource(seen[name].value, manifestDir, searchDirs, found, nullptr))
            fail(seen[name].line, "field '" + std::string(name) + "': the file " + seen[name].value
                                      + " is missing or unreadable");
        (std::string(name) == "agreement" ? manifest.agreement : manifest.icon) = found;
    }
    if (errors.empty())
        ConvertAgreement(manifest, errors);
    return errors.empty();
}
