#include "manifest.h"
#include "derived_texts.h"
#include "host.h"
#include "languages.h"
#include "names.h"
#include "path_limits.h"
#include "product.h"
#include "text.h"
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_map>

namespace {

const char* const TextFields[] = {"folderName", "displayName", "profileFile", "startupPrompt", "mainExecutable",
    "startupArguments", "serviceExecutable", "servicePrompt"};
const char* const NumberFields[] = {"offerStartupGroup", "warnOfRunningCopies", "startupMinimized",
    "useAgentService", "requiredMegabytes"};
// The record's order.
// Fields that may be left out, and what stands in for them.
struct OptionalText {
    const char* name;
    const char* fallback;
};

const char* const FieldOrder[] = {"folderName", "displayName", "profileFile", "offerStartupGroup", "startupPrompt",
    "mainExecutable", "startupArguments", "warnOfRunningCopies", "startupMinimized", "useAgentService",
    "serviceExecutable", "servicePrompt", "requiredMegabytes"};
const char* const PathFields[] = {"agreement", "icon"};
// The record's fields a manifest may leave out, and what they then hold: no
// Startup item, prompt, arguments, service or free-space test (profileFile
// stands for folderName.ini).
const OptionalText RecordDefaults[] = {{"profileFile", nullptr}, {"offerStartupGroup", "0"}, {"startupPrompt", ""},
    {"startupArguments", ""}, {"warnOfRunningCopies", "0"}, {"startupMinimized", "0"}, {"useAgentService", "0"},
    {"serviceExecutable", ""}, {"servicePrompt", ""}, {"requiredMegabytes", "0"}};
// The product's texts a manifest may give per language: field.language = text
// (the agreement's, a path), for one of its languages.
const char* const LocalizedFields[] = {"displayName", "startupPrompt", "servicePrompt", "agreement"};
const char LanguagesField[] = "languages";
constexpr size_t MaxTextLength = 1023;
// The Windows code pages a product's texts may be meant to fit on a Windows
// without the UTF-8 process code page: the ANSI code pages Windows gives
// programs.
constexpr int64_t DefaultCodePage = 1252;
const int64_t WindowsCodePages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
const int64_t DoubleByteCodePages[] = {932, 936, 949, 950};
constexpr int64_t Utf8CodePage = 65001;
// Device names Windows reserves in every folder, with or without an extension;
// COM and LPT also with the superscript digits one to three (in UTF-8).
const char* const ReservedNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
const char* const NumberedDevices[] = {"COM", "LPT"};
const char* const DeviceNumbers[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "\xc2\xb9", "\xc2\xb2", "\xc2\xb3"};
// Where a 32-bit program's system files go on 64-bit Windows: the longest
// usual system folder.
const std::string SystemFolder = "C:\\Windows\\SysWOW64";
// A registry key's name may be at most this long.
constexpr size_t KeyNameLimit = 255;
// The least a medium may hold for the setup's files: a smaller one would
// take a companion file for every few slices.
constexpr uint64_t SmallestMedium = 16 * 1024;
// A file's name may be at most this long; a companion's is its base name
// followed by the longest of its numbers and ".bin".
constexpr size_t FileNameLimit = 255;
const char LongestCompanionSuffix[] = "-2147483647.bin";
const char Utf8ByteOrderMark[] = "\xef\xbb\xbf";

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

// A size in bytes, or with K, M or G (of 1024) after the number; no less
// than SmallestMedium.
bool ParseSize(const std::string& text, uint64_t& bytes)
{
    const std::string units = "KMG";
    size_t unit = text.empty() ? std::string::npos : units.find(text.back());
    int64_t number = 0;
    if (!ParseInteger(unit == std::string::npos ? text : text.substr(0, text.size() - 1), number) || number <= 0)
        return false;
    bytes = uint64_t(number) << (unit == std::string::npos ? 0 : 10 * (unit + 1));
    return bytes >> (unit == std::string::npos ? 0 : 10 * (unit + 1)) == uint64_t(number) && bytes >= SmallestMedium;
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
        // A converter serves many texts: each starts in the initial state.
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
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

// One converter per direction for the whole run: opening one costs more than
// converting a name, and a product may have many thousands of names.
Converter& CachedConverter(const std::string& to, const std::string& from)
{
    static std::map<std::string, std::unique_ptr<Converter>> converters;
    std::unique_ptr<Converter>& converter = converters[to + "<" + from];
    if (!converter)
        converter.reset(new Converter(to.c_str(), from.c_str()));
    return *converter;
}

std::wstring Wide(const std::string& utf8)
{
    Converter& converter = CachedConverter("WCHAR_T", "UTF-8");
    size_t rest = 0;
    std::string bytes = converter.Valid() ? converter.Convert(utf8, rest, sizeof(wchar_t)) : "";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::string CodePoint(uint32_t point)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", point);
    return hex;
}

// The whole UTF-8 character a text begins with, and its code point; 0 bytes
// when the text does not begin with one.
size_t FirstCharacter(const std::string& text, uint32_t& point)
{
    for (size_t length = 1; length <= 4 && length <= text.size(); ++length) {
        Converter& converter = CachedConverter("UTF-32LE", "UTF-8");
        size_t rest = 0;
        std::string code = converter.Valid() ? converter.Convert(text.substr(0, length), rest, 4) : "";
        if (rest != 0 || code.size() != 4)
            continue;
        point = uint8_t(code[0]) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16;
        return length;
    }
    return 0;
}

// "the character 'Ж' (U+0416)" for the character a text begins with; empty
// when the text does not begin with a whole UTF-8 character.
std::string NameCharacter(const std::string& text)
{
    uint32_t point = 0;
    size_t length = FirstCharacter(text, point);
    return length ? "the character '" + text.substr(0, length) + "' (" + CodePoint(point) + ")" : "";
}

// Why bytes that are not UTF-8 are not: a surrogate that UTF-8 may not hold
// alone (the form a UTF-16 text with a half pair takes), or anything else.
std::string NotUtf8Problem(const std::string& bytes)
{
    if (bytes.size() >= 3 && uint8_t(bytes[0]) == 0xED && uint8_t(bytes[1]) >= 0xA0 && uint8_t(bytes[1]) <= 0xBF
        && (uint8_t(bytes[2]) & 0xC0) == 0x80) {
        uint32_t point = 0xD000 | (uint32_t(uint8_t(bytes[1]) & 0x3F) << 6) | (uint8_t(bytes[2]) & 0x3F);
        return "holds the unpaired surrogate " + CodePoint(point) + ", which no Windows name can hold";
    }
    return "holds bytes that are not UTF-8";
}

// Why a text read from a file cannot be one of the product's: bytes that are
// not UTF-8, or a zero byte, which would end it where the programs read it.
// Empty when it can; else `at` receives the offset of the first bad byte.
std::string Utf8TextProblem(const std::string& text, size_t& at)
{
    Converter& converter = CachedConverter("UTF-32LE", "UTF-8");
    size_t rest = 0;
    if (converter.Valid())
        converter.Convert(text, rest, 4);
    at = text.find('\0');
    if (rest != 0 && text.size() - rest < at) {
        at = text.size() - rest;
        return NotUtf8Problem(text.substr(at));
    }
    return at == std::string::npos ? "" : "holds a zero byte";
}

// The column, counted in characters from 1, that follows a text of whole UTF-8 characters.
size_t Utf8TextColumn(const std::string& before)
{
    return 1 + size_t(std::count_if(before.begin(), before.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

bool FitsStoredTime(int64_t seconds)
{
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

// SOURCE_DATE_EPOCH when it is not set.
constexpr int64_t NoEpoch = -1;


struct SourceFile {
    std::string path;
    int64_t modified = 0;
    uint64_t size = 0;
};

bool Readable(const std::string& path, SourceFile& found)
{
    int64_t modified = 0;
    uint64_t size = 0;
    if (!RegularFileDetails(path, modified, size))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    found = {path, modified, size};
    return true;
}

// The first readable place for a path: the manifest's folder, then the search
// folders. Otherwise the problem, naming the folders where it was looked for.
std::string FindSource(const std::string& what, const std::string& source, const std::string& manifestDir,
    const std::vector<std::string>& search, SourceFile& found)
{
    std::string missing = what + " " + source + " is missing or unreadable";
    if (IsAbsolutePath(source))
        return Readable(source, found) ? "" : missing;
    std::vector<std::string> bases = {manifestDir};
    bases.insert(bases.end(), search.begin(), search.end());
    std::string searched;
    for (const std::string& base : bases) {
        if (Readable(base + "/" + source, found))
            return "";
        searched += (searched.empty() ? "" : ", ") + base;
    }
    return missing + " (looked for in " + searched + ")";
}

// The time a file without a stored time takes: its own, but never later than
// SOURCE_DATE_EPOCH, so that files made by the build do not make two builds differ.
int64_t ReproducibleTime(int64_t modified, int64_t epoch)
{
    return epoch != NoEpoch && epoch < modified ? epoch : modified;
}

// What a text editor saving "Unicode" writes: a UTF-16 byte order mark.
bool BeginsAsUtf16(const std::string& start)
{
    return start.compare(0, 2, "\xff\xfe") == 0 || start.compare(0, 2, "\xfe\xff") == 0;
}

// The name's stem, up to its first dot, without trailing blanks: what Windows
// compares with its device names.
bool IsReservedName(const std::string& name)
{
    std::string stem = Upper(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    if (In(ReservedNames, stem))
        return true;
    for (const char* device : NumberedDevices)
        for (const char* number : DeviceNumbers)
            if (stem == std::string(device) + number)
                return true;
    return false;
}

// Why a single name (no separators) cannot be a file's name; empty when it can.
std::string NameProblem(const std::string& name)
{
    if (name.empty())
        return "is empty";
    if (name == "." || name == "..")
        return "is '.' or '..'";
    for (char c : name)
        if (IsRefusedInNames(c) || IsSeparator(c))
            return "has a character Windows refuses in names";
    if (name.back() == '.' || name.back() == ' ')
        return "ends in a dot or a space";
    if (IsReservedName(name))
        return "uses a device name Windows reserves";
    return "";
}

const OptionalText OptionalTexts[] = {
    {"publisher", ""}, {"version", ""}, {"compression", "default"}, {"url", ""}, {"architecture", "x86"},
    {LanguagesField, "en"}, {"installFor", "machine"}, {"mediaSize", ""}, {"companionName", ""}, {"copyright", ""}};
const char CodePageField[] = "codePage";
const char* const CompressionSettings[] = {"default", "smallest", "lzma"};
const char* const Architectures[] = {"x86", "x64"};
const char* const InstallModes[] = {"machine", "user", "ask"};
// The machine a Windows program's header names: Intel 386 and its
// successors, or x64.
constexpr uint16_t MachineX86 = 0x14c;
constexpr uint16_t MachineX64 = 0x8664;

// The machine of the Windows program at path; 0 when it is none.
uint16_t ProgramMachine(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    uint32_t header = dos[60] | uint32_t(dos[61]) << 8 | uint32_t(dos[62]) << 16 | uint32_t(dos[63]) << 24;
    unsigned char pe[6] = {};
    if (!in.seekg(header) || !in.read(reinterpret_cast<char*>(pe), sizeof pe) || pe[0] != 'P' || pe[1] != 'E' || pe[2]
        || pe[3])
        return 0;
    return uint16_t(pe[4] | pe[5] << 8);
}

// What makes a product the whole machine's, so that it cannot be installed
// for one user: a service or an agent that runs for every user, a file in the
// system directory. Empty when there is none.
std::string MachinesParts(const Manifest& manifest)
{
    std::vector<std::string> parts;
    if (!manifest.Field("serviceExecutable").empty())
        parts.push_back("its NT service (serviceExecutable " + manifest.Field("serviceExecutable") + ") serves the machine");
    if (manifest.Field("useAgentService") != "0")
        parts.push_back("its agent service (useAgentService, pmagent.exe) serves the machine");
    for (const ManifestFile& file : manifest.files)
        if (IsSystemName(file.name.c_str())) {
            parts.push_back("its file " + file.name + " goes into the Windows system directory, which is the machine's");
            break;
        }
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : "; ") + part;
    return joined;
}

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
    std::set<std::string> unreadableFields; // named before the bytes that are not UTF-8, not missing
};

// A text field within the length every text may have (the manifest's lines
// are UTF-8 by the time they are read).
template <typename Fail> bool CheckText(const std::string& name, const Entry& entry, Fail fail)
{
    if (entry.value.size() > MaxTextLength) {
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
                + rule->text + " would be longer than " + std::to_string(rule->size - 1) + " bytes in UTF-8");
    }
    for (const ManifestFile& file : manifest.files) {
        // A system file's folder is the system's: measured in its longest usual place.
        bool system = IsSystemName(file.name.c_str());
        const std::string& base = system ? SystemFolder : folder;
        const char* name = file.name.c_str() + (system ? SystemPrefixLength : 0);
        std::string where = system ? "too long for the system folder: even in " : "too long for any folder: even in ";
        size_t limit = BrokenNameLimit(base.c_str(), name);
        if (limit == FilePathLimit)
            fail(file.line, "file '" + file.name + "': " + where + base + ", its path would be longer than the "
                    + std::to_string(limit - 1) + " characters the file functions take");
        else if (limit == FolderPathLimit)
            fail(file.line, "file '" + file.name + "': " + where + base + ", the folder it needs would be longer "
                    "than the " + std::to_string(limit - 1) + " characters a new folder may have");
    }
}

// A stored name as Windows tells files apart: the system prefix itself is
// exact, so SYSTEM\\x and system\\x are different files.
std::wstring StoredKey(const std::string& name)
{
    return (IsSystemName(name.c_str()) ? L"system:" : L"folder:") + FoldedName(name);
}

// No two files name the same file, and no file names a folder another file
// needs. One look-up per name and per folder, so that thousands of files cost
// no more than their number.
template <typename Fail> void CheckNamesApart(const std::vector<ManifestFile>& files, Fail fail)
{
    const std::string caseNote = " (letter case and the kind of separator do not count)";
    std::unordered_map<std::wstring, const ManifestFile*> byName;
    std::unordered_map<std::wstring, const ManifestFile*> byFolder; // the first file that needs each folder
    for (const ManifestFile& file : files) {
        std::wstring key = StoredKey(file.name);
        auto same = byName.find(key);
        if (same != byName.end()) {
            fail(file.line, "file '" + file.name + "': names the same file as line "
                    + std::to_string(same->second->line) + caseNote);
            continue;
        }
        auto folder = byFolder.find(key);
        if (folder != byFolder.end())
            fail(file.line, "file '" + file.name + "': names a folder that file '" + folder->second->name
                    + "' on line " + std::to_string(folder->second->line) + " needs" + caseNote);
        byName.emplace(key, &file);
        // The tag before the name ("folder:", "system:") holds no separator.
        for (size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1)) {
            std::wstring needed = key.substr(0, at);
            auto clash = byName.find(needed);
            if (clash != byName.end())
                fail(file.line, "file '" + file.name + "': needs a folder where line "
                        + std::to_string(clash->second->line) + " puts the file '" + clash->second->name + "'"
                        + caseNote);
            byFolder.emplace(needed, &file);
        }
    }
}

// First pass: the lines into fields and file entries, with the problems of form.
template <typename Fail, typename FailAt> void ReadLines(std::istream& in, RawManifest& raw, Fail fail, FailAt failAt)
{
    std::string section;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (line == 1 && text.compare(0, 3, Utf8ByteOrderMark) == 0)
            text.erase(0, 3);
        size_t at = 0;
        std::string problem = Utf8TextProblem(text, at);
        if (!problem.empty()) {
            failAt(line, Utf8TextColumn(text.substr(0, at)), problem);
            size_t equals = text.find('=');
            if (equals < at)
                raw.unreadableFields.insert(Trim(text.substr(0, equals)));
            continue;
        }
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
            && key != CodePageField && !In(LocalizedFields, key.substr(0, key.find('.')))) {
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
    const std::string& kitUninstaller, Sources sources, int64_t epoch, ManifestFile& file, Fail fail)
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
    file.name = name;
    std::string problem = name.size() > MaxTextLength ? "is longer than 1023 bytes" : CheckStoredName(name);
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
    SourceFile found;
    problem = FindSource("the source", file.source, manifestDir, searchDirs, found);
    // The uninstaller the packer wrote for the product, unless it has one of its own.
    if (!problem.empty() && !kitUninstaller.empty() && file.source == UninstallerFileName
        && Readable(kitUninstaller, found))
        problem.clear();
    if (!problem.empty()) {
        fail(line, "file '" + name + "': " + problem);
        return false;
    }
    file.source = found.path;
    file.size = found.size;
    if (!file.hasTime) {
        int64_t modified = ReproducibleTime(found.modified, epoch);
        if (!FitsStoredTime(modified)) {
            fail(line, "file '" + name + "': the source's time, " + std::to_string(modified)
                    + " seconds since 1970, does not fit a signed 32-bit stored time; give the file a stored time");
            return false;
        }
        file.time = modified;
    }
    return true;
}

// Windows' edit control breaks lines only at CR LF: a lone LF becomes one.
std::string WithCarriageReturns(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// The agreement, in UTF-8; a problem is reported with its line and column in
// the agreement's own file.
// An agreement's text, in UTF-8 with CR LF line ends; false, with the
// problem, when it cannot be read or is not UTF-8.
bool ReadAgreement(const std::string& path, std::string& text, std::vector<std::string>& errors)
{
    std::ifstream in(path, std::ios::binary);
    std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (utf8.compare(0, 3, Utf8ByteOrderMark) == 0)
        utf8.erase(0, 3);
    if (BeginsAsUtf16(utf8)) {
        errors.push_back(path + ": is in UTF-16; save it as UTF-8");
        return false;
    }
    if (in.bad()) {
        errors.push_back(path + ": cannot be read");
        return false;
    }
    size_t at = 0;
    std::string problem = Utf8TextProblem(utf8, at);
    if (problem.empty()) {
        text = WithCarriageReturns(utf8);
        return true;
    }
    size_t lineStart = utf8.rfind('\n', at == 0 ? 0 : at - 1);
    lineStart = lineStart == std::string::npos || at == 0 ? 0 : lineStart + 1;
    int line = 1 + int(std::count(utf8.begin(), utf8.begin() + std::min(at, utf8.size()), '\n'));
    errors.push_back(path + ":" + std::to_string(line) + ":"
        + std::to_string(Utf8TextColumn(utf8.substr(lineStart, at - lineStart))) + ": " + problem);
    return false;
}

// The product's languages, and its texts given per language. The default
// texts are the first language's: a warning, once per text, names the other
// languages that show them for want of their own.
template <typename Fail>
void ReadLocalizedTexts(Manifest& manifest, std::map<std::string, Entry>& seen, const std::string& manifestDir,
    const std::vector<std::string>& searchDirs, Fail fail, std::vector<std::string>& errors)
{
    int languagesLine = seen.count(LanguagesField) ? seen[LanguagesField].line : 0;
    std::string list = manifest.Field(LanguagesField);
    std::replace(list.begin(), list.end(), ',', ' ');
    std::istringstream words(list);
    std::vector<std::string>& languages = manifest.languages;
    for (std::string name; words >> name;) {
        if (!FindLanguage(name))
            fail(languagesLine, "field 'languages': no language '" + name + "'; the kit translates into "
                    + LanguageNames());
        else if (std::find(languages.begin(), languages.end(), name) != languages.end())
            fail(languagesLine, "field 'languages': '" + name + "' is named twice");
        else
            languages.push_back(name);
    }
    if (languages.empty() && errors.empty())
        fail(languagesLine, "field 'languages': names no language");
    for (const auto& entry : seen) {
        size_t dot = entry.first.find('.');
        if (dot == std::string::npos)
            continue;
        std::string field = entry.first.substr(0, dot);
        std::string language = entry.first.substr(dot + 1);
        std::string named = "field '" + entry.first + "': ";
        std::string text = entry.second.value;
        if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
            fail(entry.second.line, named + "'" + language + "' is none of the product's languages (field 'languages')");
            continue;
        }
        if (!CheckText(entry.first, entry.second, fail))
            continue;
        if (text.empty()) {
            fail(entry.second.line, named + "must not be empty");
            continue;
        }
        // The screens' buffers are sized for a name as long as the default one may be.
        if (field == "displayName" && TextCharacters(text.c_str()) > KeyNameLimit) {
            fail(entry.second.line, named + "may be at most " + std::to_string(KeyNameLimit)
                    + " characters long, as 'displayName' may");
            continue;
        }
        if (field == "agreement") {
            SourceFile found;
            std::string problem = FindSource("the file", text, manifestDir, searchDirs, found);
            if (!problem.empty()) {
                fail(entry.second.line, named + problem);
                continue;
            }
            manifest.localizedFiles.push_back(found.path);
            if (!ReadAgreement(found.path, text, errors))
                continue;
        }
        manifest.localized[field][language] = text;
    }
    // Only the texts the product shows: its prompts when it asks them.
    const std::string shown[] = {"displayName", "agreement",
        manifest.Field("offerStartupGroup") != "0" && !manifest.Field("startupPrompt").empty() ? "startupPrompt" : "",
        manifest.Field("serviceExecutable").empty() ? "" : "servicePrompt"};
    for (const std::string& field : shown) {
        std::string missing;
        for (size_t i = 1; !field.empty() && i < languages.size(); ++i)
            if (!manifest.localized[field].count(languages[i]))
                missing += (missing.empty() ? "" : ", ") + languages[i];
        if (!missing.empty())
            manifest.warnings.push_back(manifest.path + ": warning: field '" + field + "' has no text of its own in "
                + missing + ": the setup shows the default one, meant for " + languages[0] + ", instead (give one as '"
                + field + "." + missing.substr(0, missing.find(',')) + " = ...')");
    }
}

// The texts a Windows without the UTF-8 process code page must hold in the
// manifest's codePage, or the setup refuses to run there: one warning, naming
// the first that it cannot hold.
void WarnOfOlderWindows(Manifest& manifest)
{
    std::vector<std::pair<std::string, std::string>> texts;
    for (const auto& field : manifest.fields)
        if (!IsNumberField(field.first))
            texts.push_back({"field '" + field.first + "'", field.second});
    for (const char* option : {"publisher", "version"})
        texts.push_back({"field '" + std::string(option) + "'", manifest.Field(option)});
    for (const ManifestFile& file : manifest.files)
        texts.push_back({"file '" + file.name + "'", file.name});
    texts.push_back({manifest.agreement, manifest.agreementText});
    size_t failing = 0;
    std::string first;
    for (const auto& text : texts) {
        std::string held, problem;
        if (ToCodePage(text.second, manifest.codePage, held, problem, nullptr))
            continue;
        if (failing++ == 0)
            first = text.first + " " + problem;
    }
    if (failing == 0)
        return;
    manifest.warnings.push_back(manifest.path + ": warning: on a Windows older than 10 version 1903 whose code page "
        "is " + std::to_string(manifest.codePage) + " (the manifest's codePage), the setup will refuse to run: "
        + first + (failing > 1 ? " (and " + std::to_string(failing - 1) + " more texts)" : ""));
}

// An icon without the sizes Windows asks for at 100 and 150 % scales a
// smaller image up, blurred.
void WarnOfIconSizes(Manifest& manifest)
{
    std::ifstream in(manifest.icon, std::ios::binary);
    unsigned char header[6] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    int count = header[4] | header[5] << 8;
    std::set<int> sizes;
    for (int i = 0; in && i < count; ++i) {
        unsigned char entry[16] = {};
        if (in.read(reinterpret_cast<char*>(entry), sizeof entry) && entry[0] == entry[1])
            sizes.insert(entry[0] ? entry[0] : 256);
    }
    std::string missing;
    for (int size : {32, 48})
        if (!sizes.count(size))
            missing += (missing.empty() ? "" : " and ") + std::to_string(size) + "x" + std::to_string(size);
    if (!missing.empty())
        manifest.warnings.push_back(manifest.icon + ": warning: the icon has no " + missing + " image: Windows "
            "scales a smaller one up, blurred, on screens of 100 and 150 %");
}

} // namespace

size_t TextCharacters(const char* text)
{
    Converter& converter = CachedConverter("UTF-16LE", "UTF-8");
    size_t rest = 0;
    return converter.Valid() ? converter.Convert(text, rest, 2).size() / 2 : 0;
}

bool IsNumberField(const std::string& name)
{
    return In(NumberFields, name);
}

std::wstring FoldedName(const std::string& utf8)
{
    std::wstring folded = UpperCase(Wide(utf8));
    std::replace(folded.begin(), folded.end(), L'/', L'\\');
    return folded;
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
    Converter& converter = CachedConverter("CP" + std::to_string(codePage), "UTF-8");
    if (!converter.Valid()) {
        problem = "code page " + std::to_string(codePage) + " is not known to this machine's iconv";
        return false;
    }
    size_t rest = 0;
    out = converter.Convert(utf8, rest, 2);
    size_t offset = utf8.size() - rest;
    std::string place = " has no place in code page ";
    // A double-byte character whose second byte is ASCII would read as two
    // characters, one of them perhaps a backslash: the setup refuses it.
    for (size_t next = 0; rest == 0 && next < utf8.size() && In(DoubleByteCodePages, codePage);) {
        uint32_t point = 0;
        size_t length = std::max<size_t>(FirstCharacter(utf8.substr(next, 4), point), 1);
        size_t unused = 0;
        std::string bytes = converter.Convert(utf8.substr(next, length), unused, 2);
        if (bytes.size() == 2 && uint8_t(bytes[1]) < 0x80) {
            offset = next;
            rest = utf8.size() - next;
            place = " ends in an ASCII byte in code page ";
        }
        next += length;
    }
    if (rest == 0 && utf8.find('\0') == std::string::npos)
        return true;
    if (rest == 0) {
        // A zero byte would end the text where the setup reads it.
        offset = utf8.find('\0');
        problem = "holds a zero byte";
    } else {
        std::string character = NameCharacter(utf8.substr(offset));
        problem = character.empty() ? "holds bytes that are not UTF-8" : character + place + std::to_string(codePage);
    }
    if (at)
        *at = offset;
    return false;
}

std::string CheckStoredName(const std::string& name)
{
    const char* problem = StoredNameProblem(name.c_str());
    if (problem && problem != ReservedDeviceProblem)
        return problem;
    size_t start = IsSystemName(name.c_str()) ? SystemPrefixLength : 0;
    for (;;) {
        size_t end = name.find_first_of("/\\", start);
        std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (IsReservedName(component)) {
            std::string stem = component.substr(0, component.find('.'));
            return "uses the reserved device name " + Upper(stem.substr(0, stem.find_last_not_of(' ') + 1));
        }
        if (end == std::string::npos)
            return "";
        start = end + 1;
    }
}

bool ReadManifest(const std::string& path, const std::vector<std::string>& searchDirs, Sources sources,
    Manifest& manifest, std::vector<std::string>& errors, bool programsBuiltForX64, const std::string& kitUninstaller)
{
    manifest = Manifest();
    manifest.path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors.push_back(path + ": cannot be read");
        return false;
    }
    std::string manifestDir = ParentFolder(path);
    auto fail = [&](int line, const std::string& what) {
        errors.push_back(path + ":" + std::to_string(line) + ": " + what);
    };
    auto failAt = [&](int line, size_t column, const std::string& what) {
        errors.push_back(path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
    };

    std::string start(2, '\0');
    in.read(&start[0], 2);
    if (BeginsAsUtf16(start)) {
        errors.push_back(path + ": is in UTF-16; save it as UTF-8");
        return false;
    }
    in.clear();
    in.seekg(0);
    // Files without a stored time take no later time than this, when it is set.
    int64_t epoch = NoEpoch;
    if (const char* text = std::getenv("SOURCE_DATE_EPOCH")) {
        if (!ParseInteger(text, epoch) || epoch < 0 || !FitsStoredTime(epoch)) {
            errors.push_back(std::string("SOURCE_DATE_EPOCH: '") + text
                + "' is not a number of seconds since 1970 that a stored time can hold");
            return false;
        }
    }
    RawManifest raw;
    ReadLines(in, raw, fail, failAt);
    auto& seen = raw.fields;
    int64_t codePage = DefaultCodePage;
    if (seen.count(CodePageField)) {
        const Entry& entry = seen[CodePageField];
        std::string problem;
        if (!ParseInteger(entry.value, codePage))
            problem = "not a whole number";
        else if (codePage == Utf8CodePage)
            problem = "65001 is UTF-8, which every Windows since 10 version 1903 gives the programs; codePage names "
                      "the code page of an older Windows the texts are meant to fit: 874, 932, 936, 949, 950, or "
                      "1250 to 1258";
        else if (!In(WindowsCodePages, codePage))
            problem = "unknown code page " + entry.value + "; use a Windows code page: 874, 932, 936, 949, 950, or "
                      "1250 to 1258";
        if (!problem.empty()) {
            fail(entry.line, "field 'codePage': " + problem);
            return false;
        }
    }
    manifest.codePage = int(codePage);
    for (const Entry& entry : raw.files) {
        ManifestFile file;
        if (ReadFile(entry, manifestDir, searchDirs, kitUninstaller, sources, epoch, file, fail))
            manifest.files.push_back(file);
    }
    CheckNamesApart(manifest.files, fail);

    auto defaultOf = [](const char* name) -> const OptionalText* {
        for (const OptionalText& field : RecordDefaults)
            if (std::string(field.name) == name)
                return &field;
        return nullptr;
    };
    for (const char* name : FieldOrder)
        if (!seen.count(name) && !raw.unreadableFields.count(name) && !defaultOf(name))
            errors.push_back(path + ": field '" + std::string(name) + "' is missing");
    for (const char* name : PathFields)
        if (!seen.count(name) && !raw.unreadableFields.count(name))
            errors.push_back(path + ": field '" + std::string(name) + "' is missing");
    if (!errors.empty())
        return false;

    for (const char* name : FieldOrder) {
        const OptionalText* fallback = defaultOf(name);
        if (!seen.count(name) && fallback) {
            manifest.fields.push_back({name, fallback->fallback ? fallback->fallback : seen["folderName"].value + ".ini"});
            continue;
        }
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
        } else if (CheckText(name, entry, fail)) {
            value = entry.value;
        } else {
            continue;
        }
        manifest.fields.push_back({name, value});
    }
    for (const OptionalText& option : OptionalTexts) {
        std::string value = option.fallback;
        if (seen.count(option.name)) {
            if (!CheckText(option.name, seen[option.name], fail))
                continue;
            value = seen[option.name].value;
        }
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
    if (!In(Architectures, manifest.Field("architecture")))
        fail(seen["architecture"].line, "field 'architecture': unknown architecture '" + manifest.Field("architecture")
                                            + "'; use x86 or x64");
    uint16_t architecture = manifest.Field("architecture") == "x64" ? MachineX64 : MachineX86;
    if (!In(CompressionSettings, manifest.Field("compression")))
        fail(seen["compression"].line, "field 'compression': unknown setting '" + manifest.Field("compression")
                                           + "'; use default, smallest or lzma");
    manifest.mediaSizeLine = seen.count("mediaSize") ? seen["mediaSize"].line : 0;
    if (seen.count("mediaSize") && !ParseSize(manifest.Field("mediaSize"), manifest.mediaSize))
        fail(seen["mediaSize"].line, "field 'mediaSize': not a size of at least 16K: a number of bytes, or of "
                                     "kilobytes, megabytes or gigabytes (of 1024) followed by K, M or G");
    std::string url = manifest.Field("url");
    if (!url.empty() && url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0)
        fail(seen["url"].line, "field 'url': must begin with https:// or http://");
    const std::string installFor = manifest.Field("installFor");
    const std::string machinesParts = MachinesParts(manifest);
    if (!In(InstallModes, installFor))
        fail(seen["installFor"].line, "field 'installFor': unknown setting '" + installFor + "'; use machine, user or ask");
    else if (installFor == "user" && !machinesParts.empty())
        fail(seen["installFor"].line, "field 'installFor': the product cannot be installed for one user alone: "
                + machinesParts + "; use machine, or ask");
    if (installFor == "ask" && !machinesParts.empty()) {
        manifest.warnings.push_back(path + ":" + std::to_string(seen["installFor"].line) + ": warning: field "
            "'installFor': only the installation for everyone on the computer is offered, and nobody is asked: "
            + machinesParts);
        manifest.options["installFor"] = "machine";
    }
    // Companions take the product's folder name unless the manifest names their own.
    const char* companionField = manifest.Field("companionName").empty() ? "folderName" : "companionName";
    manifest.companionName = manifest.Field(companionField);
    if (seen.count("companionName") && !manifest.companionName.empty()
        && TextCharacters((manifest.companionName + LongestCompanionSuffix).c_str()) > FileNameLimit)
        fail(seen["companionName"].line, "field 'companionName': must be a file name: it is longer than the "
                + std::to_string(FileNameLimit - (sizeof LongestCompanionSuffix - 1))
                + " characters that leave room for the companions' numbers and '.bin'");
    for (const char* name : {"folderName", "profileFile", "companionName"}) {
        if (std::string(name) == "companionName" && !seen.count(name))
            continue;
        std::string problem = NameProblem(manifest.Field(name));
        if (!problem.empty() && manifest.Field(name).find_first_of("\\/") != std::string::npos)
            problem = "has a separator";
        if (!problem.empty())
            fail(seen[name].line, "field '" + std::string(name) + "': must be a file name: it " + problem
                    + (std::string(name) == "profileFile" ? " (a bare file name, which Windows keeps in its own folder)"
                                                          : ""));
    }
    // The uninstall entry's key and the group's link are named after it.
    if (display.find('\\') != std::string::npos)
        fail(displayLine, "field 'displayName': names a registry key, in which a backslash would begin a subkey");
    else if (TextCharacters(display.c_str()) > KeyNameLimit)
        fail(displayLine, "field 'displayName': names a registry key, which may be at most "
                + std::to_string(KeyNameLimit) + " characters long");
    else if (!display.empty() && !NameProblem(display + ".lnk").empty())
        fail(displayLine, "field 'displayName': names the program group's link, which "
                + NameProblem(display + ".lnk"));
    for (const std::string& title : {"Install " + display, std::string("Setup Progress")})
        if (!display.empty() && title.compare(0, display.size(), display) == 0)
            fail(displayLine, "field 'displayName': begins the setup's own window title '" + title
                                  + "', so the setup would tell itself to quit");
    // The programs the setup and the uninstaller run from the top of the folder.
    struct Program {
        const char* field; // the field that names it or asks for it; none for the uninstaller
        std::string name;  // as written, in UTF-8
    };
    // The uninstaller is the setup kit's, a 32-bit program whatever the product's architecture.
    std::vector<Program> programs = {{"mainExecutable", manifest.Field("mainExecutable")}, {nullptr, "pmuninst.exe"}};
    if (!manifest.Field("serviceExecutable").empty())
        programs.push_back({"serviceExecutable", manifest.Field("serviceExecutable")});
    if (manifest.Field("useAgentService") != "0")
        programs.push_back({"useAgentService", "pmagent.exe"});
    // Every payload name folded once, not once per program.
    std::set<std::wstring> payloadNames;
    for (const ManifestFile& file : manifest.files)
        payloadNames.insert(FoldedName(file.name));
    for (const Program& program : programs) {
        // Run from the installation folder: a name with a folder (or the system's) is no such program.
        if (program.name.find_first_of("\\/") != std::string::npos) {
            fail(seen[program.field].line, "field '" + std::string(program.field) + "': '" + program.name
                    + "' must be a program at the top of the installation folder, without a folder");
            continue;
        }
        if (payloadNames.count(FoldedName(program.name))) {
            // The setup runs it as a program of the product's architecture.
            auto file = std::find_if(manifest.files.begin(), manifest.files.end(),
                [&](const ManifestFile& f) { return FoldedName(f.name) == FoldedName(program.name); });
            uint16_t machine = sources == Sources::Resolve && program.field ? ProgramMachine(file->source) : architecture;
            if (machine != architecture && !(programsBuiltForX64 && machine == MachineX64)) {
                std::string is = machine == MachineX86 ? "a 32-bit program"
                    : machine == MachineX64            ? "a 64-bit program"
                                                       : "no Windows program";
                std::string problem = "'" + program.name + "' (" + file->source + ") is " + is + ", and the product's "
                    "architecture is " + manifest.Field("architecture");
                if (program.field)
                    fail(seen[program.field].line, "field '" + std::string(program.field) + "': " + problem);
                else
                    errors.push_back(path + ": " + problem);
            }
            continue;
        }
        std::string missing = "no payload file named '" + program.name + "' at the top of the installation folder";
        if (program.field)
            fail(seen[program.field].line, "field '" + std::string(program.field) + "': " + missing);
        else
            errors.push_back(path + ": " + missing);
    }
    if (errors.empty())
        CheckRoomInAShortFolder(manifest, seen, fail);
    for (const char* name : PathFields) {
        SourceFile found;
        std::string problem = FindSource("the file", seen[name].value, manifestDir, searchDirs, found);
        if (!problem.empty())
            fail(seen[name].line, "field '" + std::string(name) + "': " + problem);
        (std::string(name) == "agreement" ? manifest.agreement : manifest.icon) = found.path;
    }
    if (errors.empty())
        ReadAgreement(manifest.agreement, manifest.agreementText, errors);
    if (errors.empty())
        ReadLocalizedTexts(manifest, seen, manifestDir, searchDirs, fail, errors);
    if (!errors.empty())
        return false;
    WarnOfOlderWindows(manifest);
    WarnOfIconSizes(manifest);
    return true;
}
