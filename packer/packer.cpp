// pmpack, the packer: writes a product, as its manifest declares it, into
// copies of the kit's prebuilt programs, with no compiler.
//   pmpack MANIFEST [-o DIR] [--search DIR]... [--x64] [--sign-command CMD] [--winget DIR] [--kit DIR]
// writes DIR/setup.exe (DIR: the manifest's folder's "out" unless named) and
// the companions its payload needs beside it (Pelmora-1.bin ...), and prints
// their paths. The uninstaller goes into the payload written for the product
// first: the manifest's pmuninst.exe, where no source of that name is found
// beside the manifest or in a folder --search names. See --help.
//   pmpack --all-languages LOCALE COMPILED OUTFILE
// writes every language of LOCALE as AllLanguages, for the tests.
#include "manifest.h"
#include "languages.h"
#include "text.h"
#include "names.h"
#include "compress.h"
#include "parts.h"
#include "sha256.h"
#include "image_trailer.h"
#include "spans.h"
#include "product.h"
#include "product_section.h"
#include "program_image.h"
#include "section.h"
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <set>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

// The list of the companions the last run wrote, in the output folder.
const char CompanionList[] = ".pmpack-companions";
// Room for an Authenticode signature after the payload: its alignment, and a
// certificate chain of three with a time stamp's countersignature.
constexpr uint64_t SignatureRoom = 16 << 10;

// A whole (small, generated) file in one read, sized first.
template <typename Bytes> bool ReadAll(const std::string& path, Bytes& data)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
    if (size < 0)
        return false;
    data.resize(size_t(size));
    in.seekg(0);
    return size == 0 || bool(in.read(reinterpret_cast<char*>(&data[0]), size));
}
std::string CString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 32 && c < 127) {
            out += char(c);
        } else {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
    }
    return out + "\"";
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

bool WriteIfChanged(const std::string& path, const std::string& text)
{
    std::string old;
    return (ReadAll(path, old) && old == text) || WriteText(path, text);
}

// Which of the application manifests the programs carry: the one that asks
// for administrator rights, for a product installed for the machine alone;
// for one a user may install for themselves, the one that asks for nothing
// (the setup asks when the machine is chosen).
std::string ManifestVariant(const Manifest& manifest)
{
    return manifest.Field("installFor") == "machine" ? ".manifest" : "-as-invoker.manifest";
}

// The uninstaller's icon is seen only in lists of files and links, and its
// size is fixed: it keeps the images of 32 pixels and less (all of them when
// there is none such, or the file is not an icon).
std::string SmallIcon(const std::string& icon)
{
    const size_t header = 6, entry = 16;
    // Reserved 0, type 1 (an icon, not a cursor).
    if (icon.size() < header || icon.compare(0, 4, std::string("\0\0\1\0", 4)) != 0)
        return icon;
    size_t count = static_cast<unsigned char>(icon[4]) | static_cast<unsigned char>(icon[5]) << 8;
    if (icon.size() < header + count * entry)
        return icon;
    std::vector<std::string> entries;
    std::vector<std::string> images;
    for (size_t i = 0; i < count; ++i) {
        std::string item = icon.substr(header + i * entry, entry);
        auto field = [&item](size_t at) {
            uint32_t value = 0;
            for (size_t b = 0; b < 4; ++b)
                value |= uint32_t(static_cast<unsigned char>(item[at + b])) << (8 * b);
            return value;
        };
        uint32_t size = field(8), offset = field(12);
        if (offset > icon.size() || size > icon.size() - offset)
            return icon;
        int width = static_cast<unsigned char>(item[0]);
        if (width != 0 && width <= 32) {
            entries.push_back(item);
            images.push_back(icon.substr(offset, size));
        }
    }
    if (entries.empty())
        return icon;
    std::string out = icon.substr(0, 4);
    out += static_cast<char>(entries.size() & 0xFF);
    out += static_cast<char>(entries.size() >> 8);
    uint32_t offset = static_cast<uint32_t>(header + entries.size() * entry);
    for (size_t i = 0; i < entries.size(); ++i) {
        for (size_t b = 0; b < 4; ++b)
            entries[i][12 + b] = static_cast<char>(offset >> (8 * b) & 0xFF);
        offset += static_cast<uint32_t>(images[i].size());
        out += entries[i];
    }
    for (const std::string& image : images)
        out += image;
    return out;
}

// The language records (language.h) of the languages named, in their order,
// as the table `table` with `count` in it; with the product's own texts in
// each when a manifest gives them (its prompts and agreement only for the
// setup). English needs no translations: the programs' texts are English.
std::string LanguageRecords(const std::vector<std::string>& names, const std::map<std::string, Translations>& translations,
    const Manifest* manifest, bool forSetup, const std::string& table, const std::string& count)
{
    std::ostringstream out;
    out << "// Generated by the packer. Do not edit.\n#include \"dialogs.h\"\n#include \"language.h\"\n"
        << (manifest && !forSetup ? "#include \"uninstall.h\"\n" : "") << "\nnamespace {\n";
    for (const std::string& name : names) {
        if (name == "en")
            continue;
        std::vector<std::pair<uint32_t, std::string>> sorted;
        for (const auto& message : translations.at(name))
            sorted.push_back({TextKey(message.first.c_str()), message.second});
        std::sort(sorted.begin(), sorted.end());
        out << "const uint32_t Keys_" << name << "[] = {";
        for (size_t i = 0; i < sorted.size(); ++i)
            out << (i ? ", " : "") << sorted[i].first << "u";
        out << "};\nconst char* const Texts_" << name << "[] = {\n";
        for (const auto& message : sorted)
            out << "    " << CString(message.second) << ",\n";
        out << "};\n";
    }
    auto text = [&](const char* field, const std::string& language) {
        auto given = manifest ? manifest->localized.find(field) : std::map<std::string, std::map<std::string,
            std::string>>::const_iterator();
        if (!manifest || given == manifest->localized.end() || !given->second.count(language))
            return std::string("nullptr");
        return CString(given->second.at(language));
    };
    out << "} // namespace\n\nextern const LanguageRecord " << table << "[] = {\n";
    for (const std::string& name : names) {
        const LanguageInfo* info = FindLanguage(name);
        bool english = name == "en";
        out << "    {" << CString(name) << ", " << info->windowsLanguage << ", " << info->rightToLeft << ", "
            << (english ? 0 : translations.at(name).size()) << ", " << (english ? "nullptr" : "Keys_" + name) << ", "
            << (english ? "nullptr" : "Texts_" + name) << ", " << text("displayName", name) << ",\n        "
            << (forSetup ? text("startupPrompt", name) : "nullptr") << ", "
            << (forSetup ? text("servicePrompt", name) : "nullptr") << ",\n        "
            << (forSetup ? text("agreement", name) : "nullptr") << "},\n";
    }
    out << "};\nextern const int32_t " << count << " = " << names.size() << ";\n";
    // A product of English alone names none of the code of the other languages,
    // and one without a language written from right to left none of the mirroring.
    bool multilingual = names.size() > 1 || names[0] != "en";
    bool mirrored = std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return FindLanguage(name)->rightToLeft;
    });
    if (manifest)
        out << "extern const LanguageCode ProductLanguageCode = {" << (multilingual ? "SpeakChosenLanguage" : "nullptr")
            << ", " << (multilingual && !forSetup ? "ReadRecordedLanguage" : "nullptr") << ", "
            << (multilingual ? "TranslateDialogTexts" : "nullptr") << ", " << (mirrored ? "MirroredTemplate" : "nullptr")
            << "};\n";
    return out.str();
}

// Whether a file's source was read whole, and is just as long as it was when
// the manifest was read: the entry's size and the tables rely on that size.
bool ReadAsMeasured(const Manifest& manifest, const ManifestFile& file, std::ifstream& in, uint64_t read,
    std::string& problem)
{
    if (in && read == file.size && in.peek() == std::ifstream::traits_type::eof())
        return true;
    problem = manifest.path + ":" + std::to_string(file.line) + ": file '" + file.name + "': the source " + file.source
        + " could not be read whole, or changed while it was packed";
    return false;
}

// A line on a terminal that shows how the packing goes, once it takes longer
// than a second: the files read, the megabytes and the rate.
class PackingProgress {
public:
    explicit PackingProgress(const Manifest& manifest) : files(manifest.files.size()), shown(IsTerminal())
    {
        for (const ManifestFile& file : manifest.files)
            total += file.size;
    }
    ~PackingProgress()
    {
        if (drawn)
            std::fputc('\n', stderr);
    }
    void Read(size_t file, uint64_t bytes)
    {
        done += bytes;
        auto now = std::chrono::steady_clock::now();
        if (!shown || now - start < std::chrono::seconds(1) || now - last < std::chrono::milliseconds(200))
            return;
        last = now;
        drawn = true;
        double seconds = std::chrono::duration<double>(now - start).count();
        std::fprintf(stderr, "\rPacking: file %zu of %zu, %.1f of %.1f MB, %.1f MB/s   ", file + 1, files,
            double(done) / 1e6, double(total) / 1e6, double(done) / 1e6 / seconds);
        std::fflush(stderr);
    }

private:
    static bool IsTerminal()
    {
#ifdef _WIN32
        return _isatty(_fileno(stderr)) != 0;
#else
        return isatty(fileno(stderr)) != 0;
#endif
    }
    size_t files;
    uint64_t total = 0;
    uint64_t done = 0;
    bool shown;
    bool drawn = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last = start;
};

// Reads, compresses and writes the payload a batch at a time, so that the
// packer's memory stays the same whatever the payload's size. A file longer
// than a batch is cut at a multiple of SliceSize, so its slices are those of
// the whole file.
bool PackPayload(const Manifest& manifest, Compression compression, PartWriter& out, PackedPayload& packed,
    std::string& problem)
{
    constexpr size_t BatchBytes = 1024 * SliceSize;
    std::vector<std::vector<unsigned char>> pieces;
    std::vector<size_t> pieceFiles;
    size_t batched = 0;
    uint64_t written = 0;
    packed.sliceCounts.assign(manifest.files.size(), 0);
    auto flush = [&] {
        std::vector<Slice> slices;
        if (!CompressSlices(pieces, compression, slices)) {
            problem = manifest.path + ": compression failed";
            return false;
        }
        for (const Slice& slice : slices) {
            packed.offsets.push_back(written);
            packed.lengths.push_back(uint32_t(slice.compressed.size()));
            ++packed.sliceCounts[pieceFiles[slice.file]];
            if (!out.Write(slice.compressed.data(), slice.compressed.size()))
                return false;
            written += slice.compressed.size();
        }
        pieces.clear();
        pieceFiles.clear();
        batched = 0;
        return true;
    };
    PackingProgress progress(manifest);
    for (size_t f = 0; f < manifest.files.size(); ++f) {
        const ManifestFile& file = manifest.files[f];
        std::ifstream in(file.source, std::ios::binary);
        uint64_t read = 0;
        while (in && read < file.size) {
            size_t room = std::max(SliceSize, (BatchBytes - std::min(batched, BatchBytes)) / SliceSize * SliceSize);
            std::vector<unsigned char> piece(size_t(std::min<uint64_t>(room, file.size - read)));
            in.read(reinterpret_cast<char*>(piece.data()), std::streamsize(piece.size()));
            if (size_t(in.gcount()) != piece.size())
                break;
            read += piece.size();
            progress.Read(f, piece.size());
            batched += piece.size();
            pieces.push_back(std::move(piece));
            pieceFiles.push_back(f);
            if (batched >= BatchBytes && !flush())
                return false;
        }
        if (!ReadAsMeasured(manifest, file, in, read, problem))
            return false;
        packed.bytes += read;
    }
    if (!flush())
        return false;
    packed.payloadBytes = written;
    return true;
}

// The solid payload: the files' content, a slice at a time, gathered into
// blocks of at most SolidBlockSize bytes that end where a slice ends, as
// many as that size needs and of about the same size, so that they take
// about as long to compress (and to unpack) in parallel; as many blocks as
// there are cores are compressed at once and written, so that the packer's
// memory stays the same whatever the payload's size.
bool PackSolidPayload(const Manifest& manifest, PartWriter& out, PackedPayload& packed, std::string& problem)
{
    packed.solid = true;
    packed.sliceCounts.assign(manifest.files.size(), 0);
    packed.lastSliceSizes.assign(manifest.files.size(), 0);
    std::vector<unsigned char> header;
    if (!SolidStreamHeader(header)) {
        problem = manifest.path + ": compression failed";
        return false;
    }
    if (!out.Write(header.data(), header.size()))
        return false;
    uint64_t written = header.size();
    const size_t batch = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::vector<unsigned char>> contents(1);
    std::vector<SolidBlock> blocks;
    auto flush = [&] {
        size_t first = blocks.size();
        if (!CompressBlocks(contents, blocks)) {
            problem = manifest.path + ": compression failed";
            return false;
        }
        for (size_t k = first; k < blocks.size(); ++k) {
            std::vector<unsigned char>& bytes = blocks[k].bytes;
            packed.blockOffsets.push_back(written);
            packed.blockLengths.push_back(uint32_t(bytes.size()));
            packed.blockSizes.push_back(uint32_t(blocks[k].contentSize));
            if (!out.Write(bytes.data(), bytes.size()))
                return false;
            written += bytes.size();
            // Only the sizes are kept, for the stream's index.
            std::vector<unsigned char>().swap(bytes);
        }
        contents.assign(1, {});
        return true;
    };
    uint64_t total = 0;
    for (const ManifestFile& file : manifest.files)
        total += file.size;
    uint64_t blockCount = std::max<uint64_t>(1, (total + SolidBlockSize - 1) / SolidBlockSize);
    uint64_t enough = (total + blockCount - 1) / blockCount;
    std::vector<unsigned char> piece(SliceSize);
    PackingProgress progress(manifest);
    for (size_t f = 0; f < manifest.files.size(); ++f) {
        const ManifestFile& file = manifest.files[f];
        std::ifstream in(file.source, std::ios::binary);
        uint64_t read = 0;
        while (in && read < file.size) {
            size_t length = size_t(std::min<uint64_t>(SliceSize, file.size - read));
            if (!in.read(reinterpret_cast<char*>(piece.data()), std::streamsize(length)))
                break;
            if (contents.back().size() >= enough || contents.back().size() + length > SolidBlockSize) {
                if (contents.size() == batch && !flush())
                    return false;
                if (!contents.back().empty())
                    contents.emplace_back();
            }
            contents.back().insert(contents.back().end(), piece.begin(), piece.begin() + std::ptrdiff_t(length));
            read += length;
            progress.Read(f, length);
            ++packed.sliceCounts[f];
            packed.lastSliceSizes[f] = uint32_t(length);
        }
        if (!ReadAsMeasured(manifest, file, in, read, problem))
            return false;
        packed.bytes += read;
    }
    if (contents.back().empty())
        contents.pop_back();
    std::vector<unsigned char> end;
    if (!flush() || !SolidStreamEnd(blocks, end)) {
        problem = manifest.path + ": compression failed";
        return false;
    }
    packed.payloadBytes = written + end.size();
    return out.Write(end.data(), end.size());
}

// Names every problem found, one a line, and ends the run with status 1.
int Refuse(const std::vector<std::string>& errors)
{
    for (const std::string& error : errors)
        std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
}

// Room kept in setup.exe beside its payload for the program itself: its
// code, resources and signature, and the tables that grow with the payload.
uint64_t ProgramReserve(const Manifest& manifest)
{
    constexpr uint64_t CodeResourcesAndSignature = 8 << 20;
    uint64_t tables = 0;
    uint64_t content = 0;
    for (const ManifestFile& file : manifest.files) {
        tables += file.name.size() + 64 + (file.size / SliceSize + 1) * 4;
        content += file.size;
    }
    // A span's digest for every span of the payload, which incompressible content makes a little larger than itself.
    tables += (content + content / 64 + 1024) / PayloadSpanSize * SpanDigestSize + SpanDigestSize;
    return CodeResourcesAndSignature + tables;
}

// The SHA-256 the setup checks its image against (see image_trailer.h): the
// linked program must end with its last section, where the setup looks for
// its trailer. Empty when the program is no Windows program of that shape.
std::string ImageDigest(std::string image)
{
    auto number = [&](size_t at, int bytes) {
        uint32_t value = 0;
        for (int b = 0; b < bytes && at + size_t(b) < image.size(); ++b)
            value |= uint32_t(static_cast<unsigned char>(image[at + size_t(b)])) << (8 * b);
        return value;
    };
    constexpr uint32_t Pe32 = 0x10b;
    constexpr uint32_t Pe32Plus = 0x20b;
    // Where a PE32 (PE32+) optional header keeps its checksum and its security directory's entry.
    constexpr size_t ChecksumAt = 64;
    constexpr size_t SecurityAt = 128;
    constexpr size_t SecurityAtPlus = 144;
    constexpr size_t SectionHeaderSize = 40;
    size_t pe = image.size() >= 64 && image.compare(0, 2, "MZ") == 0 ? number(60, 4) : 0;
    size_t optional = pe + 24;
    uint32_t magic = number(optional, 2);
    size_t sections = optional + number(pe + 20, 2);
    size_t sectionCount = number(pe + 6, 2);
    size_t security = optional + (magic == Pe32 ? SecurityAt : SecurityAtPlus);
    if (pe == 0 || pe + 4 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0
        || (magic != Pe32 && magic != Pe32Plus) || security + 8 > sections
        || sections + sectionCount * SectionHeaderSize > image.size())
        return "";
    uint64_t end = 0;
    for (size_t k = 0; k < sectionCount; ++k) {
        size_t header = sections + k * SectionHeaderSize;
        if (number(header + 16, 4))
            end = std::max<uint64_t>(end, uint64_t(number(header + 20, 4)) + number(header + 16, 4));
    }
    if (end != image.size())
        return "";
    std::fill_n(image.begin() + std::ptrdiff_t(optional + ChecksumAt), 4, '\0');
    std::fill_n(image.begin() + std::ptrdiff_t(security), 8, '\0');
    Sha256Digest digest{};
    return Sha256Of(image.data(), image.size(), digest) ? std::string(digest.begin(), digest.end()) : "";
}

// The most bytes one file of the setup may hold.
uint64_t MediaLimit(const Manifest& manifest)
{
    return manifest.mediaSize ? std::min(manifest.mediaSize, LargestPart) : LargestPart;
}

// The command that signs each program; empty: none is signed.
std::string SignCommand;

const char Version[] = PMPACK_VERSION;

const char Usage[] =
    "usage: pmpack MANIFEST [-o DIR] [--search DIR]... [--x64] [--sign-command CMD]\n"
    "              [--winget DIR --winget-url URL] [--kit DIR]\n"
    "       pmpack --help | --version\n";

const char Help[] =
    "Writes the product a manifest declares into the kit's setup program: DIR/setup.exe, with the\n"
    "companion files its payload needs beside it, and prints their paths.\n"
    "\n"
    "  -o DIR             where setup.exe goes (default: the folder 'out' beside the manifest)\n"
    "  --search DIR       a folder to look for the manifest's sources in, after the manifest's own\n"
    "  --x64              the 64-bit build of the kit's programs, for a Windows without 32-bit support\n"
    "  --sign-command CMD a command run on each program before its digest is taken, with the\n"
    "                     program's path added as its last argument (for instance signtool's)\n"
    "  --winget DIR       also writes the winget installer manifest of setup.exe into DIR\n"
    "  --winget-url URL   the address setup.exe is downloaded from, which that manifest names\n"
    "  --kit DIR          the kit's folder, with programs/ and locale/ (default: pmpack's own)\n"
    "\n"
    "Exit status: 0 packaged; 1 the manifest or a source was refused, or an output could not be\n"
    "written (each problem named, with its file and line); 2 a wrong command line.\n";

// The folder pmpack stands in: the kit's, unless --kit names another.
std::string OwnFolder(const char* argv0)
{
    std::error_code error;
#ifdef _WIN32
    wchar_t path[32768];
    DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    std::filesystem::path own = length && length < 32768 ? std::filesystem::path(path) : std::filesystem::path(argv0);
#else
    std::filesystem::path own = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        own = std::filesystem::absolute(argv0, error);
#endif
    return own.parent_path().u8string();
}

// A program signed in place by the sign command, which is told the product's
// name and web address in its environment; false when it fails.
bool Sign(const std::string& program, const Manifest& manifest)
{
    if (SignCommand.empty())
        return true;
#ifdef _WIN32
    // A Windows path holds no double quote; cmd takes the whole line within one more pair of them.
    std::string command = "\"" + SignCommand + " \"" + program + "\"\"";
    _putenv_s("PMPACK_PRODUCT_NAME", manifest.Field("displayName").c_str());
    _putenv_s("PMPACK_PRODUCT_URL", manifest.Field("url").c_str());
#else
    // In single quotes the shell takes every character as it is, but the quote itself.
    std::string quoted = "'";
    for (char c : program)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::string command = SignCommand + " " + quoted + "'";
    setenv("PMPACK_PRODUCT_NAME", manifest.Field("displayName").c_str(), 1);
    setenv("PMPACK_PRODUCT_URL", manifest.Field("url").c_str(), 1);
#endif
    std::fflush(stdout);
    int status = std::system(command.c_str());
    if (status != 0) {
#ifdef _WIN32
        int code = status;
#else
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
        std::fprintf(stderr, "%s: the sign command failed with exit code %d: %s\n", program.c_str(), code,
            command.c_str());
        return false;
    }
    return true;
}

// A file written under a name of its own and then moved to its place, so that
// a failed run leaves none there: the bytes, then those of the file
// appended, when one is named, a piece at a time.
bool WritePlaced(const std::string& path, const std::vector<unsigned char>& bytes, const std::string& appended = "")
{
    std::string fresh = path + ".pmpack-new";
    std::remove(fresh.c_str()); // result deliberately ignored: an earlier run's, or none
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!appended.empty()) {
            std::ifstream part(appended, std::ios::binary);
            std::vector<char> buffer(1 << 20);
            while (part && out) {
                part.read(buffer.data(), std::streamsize(buffer.size()));
                out.write(buffer.data(), part.gcount());
            }
            if (!part.eof())
                out.setstate(std::ios::failbit);
        }
        out.flush();
        if (!out) {
            std::remove(fresh.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(fresh, path, error);
    if (error)
        std::remove(fresh.c_str());
    return !error;
}

struct Kit {
    std::string programs; // the prebuilt programs and their application manifests
    std::string locale;   // locale/NAME.po, checked
    std::string compiled; // their NAME.mo
};

// A program of the kit written with the product: its icon, its application
// manifest, its version information and its section.
bool WriteKitProgram(const Kit& kit, const std::string& prebuiltName, const std::string& manifestName,
    const std::string& description, const std::string& fileName, const std::string& icon,
    std::vector<unsigned char> section, const Manifest& manifest, std::vector<unsigned char>& image)
{
    std::vector<unsigned char> prebuilt;
    std::string problem;
    ProgramAdditions additions;
    std::string prebuiltPath = kit.programs + "/" + prebuiltName;
    if (!ReadAll(prebuiltPath, prebuilt) || !ReadAll(kit.programs + "/" + manifestName, additions.manifest)) {
        std::fprintf(stderr, "%s: cannot read the kit's program %s or its manifest %s\n", kit.programs.c_str(),
            prebuiltName.c_str(), manifestName.c_str());
        return false;
    }
    additions.icon.assign(icon.begin(), icon.end());
    VersionFields& version = additions.version;
    version.productName = manifest.Field("displayName");
    version.companyName = manifest.Field("publisher");
    version.productVersion = manifest.Field("version");
    version.fileVersion = manifest.Field("version");
    version.fileDescription = manifest.Field("displayName") + " " + description;
    version.legalCopyright = manifest.Field("copyright");
    version.internalName = fileName.substr(0, fileName.rfind('.'));
    version.originalFilename = fileName;
    std::copy(std::begin(ProductSectionName), std::end(ProductSectionName), additions.sectionName);
    additions.section = std::move(section);
    if (!WriteProgram(prebuilt, additions, image, problem)) {
        std::fprintf(stderr, "%s: %s\n", prebuiltPath.c_str(), problem.c_str());
        return false;
    }
    return true;
}

struct PackOptions {
    std::string manifest;
    std::string outDir;
    std::vector<std::string> search;
    bool x64 = false;
    std::string winget;
    std::string wingetUrl;
    // For the kit's own build and tests: where the uninstaller written is
    // kept, the size the shipped one is padded to, and the setup also as a
    // Windows before 10 version 1903 runs it (setup-without-utf8.exe).
    std::string keepUninstaller;
    uint64_t padUninstaller = 0;
    bool alsoWithoutUtf8 = false;
};

// The setup's image followed by its trailer, before the payload's part it
// carries, unless that, and a signature's room when it is signed, would be
// more than one file of the setup may hold.
bool AppendTrailer(std::vector<unsigned char>& image, const std::string& partPath, const Manifest& manifest,
    const std::string& shownPath)
{
    std::string digest = ImageDigest(std::string(image.begin(), image.end()));
    std::error_code error;
    uint64_t partSize = std::filesystem::file_size(std::filesystem::u8path(partPath), error);
    if (digest.empty() || error) {
        std::fprintf(stderr, "%s: the payload could not be appended\n", shownPath.c_str());
        return false;
    }
    uint64_t signature = SignCommand.empty() ? 0 : SignatureRoom;
    uint64_t needed = image.size() + ImageTrailerSize + partSize + signature;
    if (needed > MediaLimit(manifest)) {
        std::string needs = "its program's image of " + std::to_string(image.size()) + " bytes, the image's trailer of "
            + std::to_string(ImageTrailerSize) + (partSize ? ", its payload's part of " + std::to_string(partSize) : "")
            + (signature ? " and room for its signature of " + std::to_string(signature) : "");
        if (manifest.mediaSize)
            std::fprintf(stderr, "%s:%d: field 'mediaSize': %s bytes cannot hold setup.exe: use at least %s (%s)\n",
                manifest.path.c_str(), manifest.mediaSizeLine, std::to_string(manifest.mediaSize).c_str(),
                std::to_string(needed).c_str(), needs.c_str());
        else
            std::fprintf(stderr, "%s: the program with its payload is larger than a program may be (%s)\n",
                shownPath.c_str(), needs.c_str());
        return false;
    }
    image.insert(image.end(), ImageTrailerTag, ImageTrailerTag + ImageTagSize);
    image.insert(image.end(), digest.begin(), digest.end());
    return true;
}

// The translations of the product's languages, every language's checked.
bool ReadProductTranslations(const Kit& kit, const Manifest& manifest, LanguageTexts& translations)
{
    std::vector<std::string> errors;
    bool translated = ReadTranslations(kit.locale, kit.compiled, translations, errors);
    for (const std::string& language : translated ? manifest.languages : std::vector<std::string>())
        if (!translations.count(language))
            errors.push_back(manifest.path + ": field 'languages': no translations into " + language + " ("
                + kit.locale + "/" + language + ".po)");
    if (errors.empty())
        return true;
    Refuse(errors);
    return false;
}

// The lines of a list of paths.
std::vector<std::string> ListedPaths(const std::string& list)
{
    std::vector<std::string> paths;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            paths.push_back(line);
    return paths;
}

// The companions the work folder holds moved beside setup.exe, those an
// earlier run put there that this payload has not removed, and the list of
// them, one a line, written there (none when there are none) and returned.
// False when one cannot be put in its place or the list cannot be written.
bool PlaceCompanions(const std::string& work, const std::string& outDir, std::string& listed)
{
    std::vector<std::string> placed;
    std::error_code error;
    for (const std::string& made : ListedPaths(work + "/" + CompanionList)) {
        std::filesystem::path name = std::filesystem::u8path(made).filename();
        std::string path = (std::filesystem::u8path(outDir) / name).u8string();
        std::filesystem::rename(std::filesystem::u8path(made), std::filesystem::u8path(path), error);
        if (error) {
            std::fprintf(stderr, "%s: cannot be put in its place: %s\n", path.c_str(), error.message().c_str());
            return false;
        }
        placed.push_back(path);
    }
    // Only a file of the earlier list in this folder, by its name there.
    for (const std::string& earlier : ListedPaths(outDir + "/" + CompanionList)) {
        std::filesystem::path name = std::filesystem::u8path(earlier).filename();
        std::string path = (std::filesystem::u8path(outDir) / name).u8string();
        if (!name.empty() && std::find(placed.begin(), placed.end(), path) == placed.end())
            std::filesystem::remove(std::filesystem::u8path(path), error); // result deliberately ignored: one gone already
    }
    listed.clear();
    for (const std::string& path : placed)
        listed += path + "\n";
    // No companions, no list.
    if (placed.empty()) {
        std::filesystem::remove(std::filesystem::u8path(outDir + "/" + CompanionList), error);
        return !error;
    }
    std::vector<unsigned char> list(listed.begin(), listed.end());
    if (!WritePlaced(outDir + "/" + CompanionList, list)) {
        std::fprintf(stderr, "%s: cannot be written\n", (outDir + "/" + CompanionList).c_str());
        return false;
    }
    return true;
}

// A folder of the run's own for what it writes before setup.exe, in the
// output folder (whose companions it may become), gone with the run.
struct WorkFolder {
    std::string path;
    ~WorkFolder()
    {
        std::error_code error;
        if (!path.empty())
            std::filesystem::remove_all(std::filesystem::u8path(path), error); // result deliberately ignored: a temporary folder
    }
};

bool MakeWorkFolder(const std::string& outDir, WorkFolder& work)
{
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::u8path(outDir);
    std::filesystem::create_directories(temporary, error);
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        std::filesystem::path path = temporary
            / (".pmpack-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007)
                + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(path, error)) {
            work.path = path.u8string();
            return true;
        }
    }
    std::fprintf(stderr, "%s: no folder can be made in it%s%s\n", outDir.c_str(), error ? ": " : "",
        error ? error.message().c_str() : "");
    return false;
}

// The SHA-256 of a whole file, read a piece at a time.
bool FileDigest(const std::string& path, Sha256Digest& digest)
{
    std::ifstream in(path, std::ios::binary);
    Sha256State* state = NewSha256();
    bool hashed = in && state && StartSha256(state);
    std::vector<char> buffer(1 << 20);
    while (hashed && in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        hashed = AddToSha256(state, buffer.data(), size_t(in.gcount()));
    }
    hashed = hashed && in.eof() && FinishSha256(state, digest);
    if (state)
        FreeSha256(state);
    return hashed;
}

// A YAML text in double quotes, which take every character as written but
// for the quote and the backslash.
std::string YamlText(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

// The package's identifier, Publisher.Product, from publisher and folderName
// without the characters winget takes for none in one (blanks, dots, the
// characters Windows refuses in names, controls).
std::string WingetIdentifier(const Manifest& manifest)
{
    std::string identifier;
    for (const std::string& part : {manifest.Field("publisher"), manifest.Field("folderName")}) {
        if (!identifier.empty())
            identifier += ".";
        for (char c : part)
            if (static_cast<unsigned char>(c) > ' ' && !std::strchr(".\\/:*?\"<>|", c))
                identifier += c;
    }
    return identifier;
}

// Whether each part of an identifier holds 1 to 32 characters.
bool WingetPartsFit(const std::string& identifier)
{
    size_t characters = 0;
    for (size_t at = 0; at <= identifier.size(); ++at) {
        if (at == identifier.size() || identifier[at] == '.') {
            if (characters == 0 || characters > 32)
                return false;
            characters = 0;
        } else if ((static_cast<unsigned char>(identifier[at]) & 0xC0) != 0x80) {
            ++characters;
        }
    }
    return true;
}

// The winget installer manifest of setup.exe: its switches, for whom it
// installs (both, each with its switch, for a product that asks), its exit
// codes and its SHA-256. /D= is left out: it must end the command line, and
// winget puts its switches in an order of its own.
std::string WingetManifest(const Manifest& manifest, const std::string& url, const std::string& digest)
{
    std::string publisher = manifest.Field("publisher");
    std::string identifier = WingetIdentifier(manifest);
    std::string architecture = manifest.Field("architecture") == "x64" ? "x64" : "x86";
    std::string installFor = manifest.Field("installFor");
    std::vector<std::pair<std::string, std::string>> scopes;
    if (installFor == "ask")
        scopes = {{"machine", "/ALLUSERS"}, {"user", "/CURRENTUSER"}};
    else
        scopes = {{installFor == "user" ? "user" : "machine", ""}};
    std::ostringstream out;
    out << "# The winget installer manifest of " << manifest.Field("displayName") << "'s setup.exe, written by pmpack "
        << Version << ".\n"
        << "# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.1.6.0.schema.json\n"
        << "PackageIdentifier: " << identifier << "\nPackageVersion: " << YamlText(manifest.Field("version"))
        << "\nInstallerType: exe\nInstallModes:\n- interactive\n- silent\n- silentWithProgress\n"
        << "InstallerSwitches:\n  Silent: /S\n  SilentWithProgress: /S\n  Log: /LOG=\"<LOGPATH>\"\n"
        << "ExpectedReturnCodes:\n"
        << "- InstallerReturnCode: 1602\n  ReturnResponse: cancelledByUser\n"
        << "- InstallerReturnCode: 1618\n  ReturnResponse: installInProgress\n"
        << "- InstallerReturnCode: 1639\n  ReturnResponse: invalidParameter\n"
        << "- InstallerReturnCode: 3010\n  ReturnResponse: rebootRequiredToFinish\n"
        << "UpgradeBehavior: install\nInstallers:\n";
    for (const auto& scope : scopes) {
        out << "- Architecture: " << architecture << "\n  Scope: " << scope.first << "\n";
        if (!scope.second.empty())
            out << "  InstallerSwitches:\n    Custom: " << scope.second << "\n";
        out << "  InstallerUrl: " << YamlText(url) << "\n  InstallerSha256: " << digest << "\n"
            << "  AppsAndFeaturesEntries:\n  - DisplayName: " << YamlText(manifest.Field("displayName"))
            << "\n    Publisher: " << YamlText(publisher) << "\n    DisplayVersion: "
            << YamlText(manifest.Field("version")) << "\n";
    }
    out << "ManifestType: installer\nManifestVersion: 1.6.0\n";
    return out.str();
}

// What a winget manifest needs that the manifest must give.
bool CheckWinget(const Manifest& manifest)
{
    std::vector<std::string> missing;
    for (const char* field : {"publisher", "version"})
        if (manifest.Field(field).empty())
            missing.push_back(manifest.path + ": --winget needs the field '" + field + "'");
    if (missing.empty() && !WingetPartsFit(WingetIdentifier(manifest)))
        missing.push_back(manifest.path + ": --winget: the package identifier '" + WingetIdentifier(manifest)
            + "' from publisher and folderName needs 1 to 32 characters in each part");
    if (missing.empty())
        return true;
    Refuse(missing);
    return false;
}

int Pack(const PackOptions& options, const Kit& kit)
{
    // First the uninstaller, which the payload holds: from the manifest as written, before its sources are looked for.
    Manifest declared;
    std::vector<std::string> errors;
    if (!ReadManifest(options.manifest, {}, Sources::Ignore, declared, errors))
        return Refuse(errors);
    if (!options.winget.empty() && !CheckWinget(declared))
        return 1;
    LanguageTexts translations;
    if (!ReadProductTranslations(kit, declared, translations))
        return 1;
    std::string icon;
    if (!ReadAll(declared.icon, icon)) {
        std::fprintf(stderr, "%s: cannot read the icon\n", declared.icon.c_str());
        return 1;
    }
    std::string variant = ManifestVariant(declared);
    WorkFolder workFolder;
    if (!MakeWorkFolder(options.outDir, workFolder))
        return 1;
    const std::string& work = workFolder.path;
    std::error_code error;
    std::string uninstaller = work + "/" + UninstallerFileName;
    std::vector<unsigned char> image;
    // The kit's programs of English alone carry none of the code of the other languages.
    std::string speaks = declared.languages == std::vector<std::string>{"en"} ? "-en" : "";
    if (!WriteKitProgram(kit, "pmuninst" + speaks + ".exe", "uninstall" + variant, "Uninstaller", UninstallerFileName,
            SmallIcon(icon), UninstallerSection(declared, translations), declared, image)
        || !WritePlaced(uninstaller, image) || !Sign(uninstaller, declared))
        return 1;
    if (options.padUninstaller && SignCommand.empty()) {
        if (image.size() > options.padUninstaller) {
            std::fprintf(stderr, "%s has %zu bytes, more than the %llu it is padded to\n", uninstaller.c_str(),
                image.size(), static_cast<unsigned long long>(options.padUninstaller));
            return 1;
        }
        image.resize(options.padUninstaller, 0);
        if (!WritePlaced(uninstaller, image))
            return 1;
    }

    // Then the payload, every source found: the uninstaller is the one just written, unless the product has its own
    // beside its manifest.
    Manifest manifest;
    if (!ReadManifest(options.manifest, options.search, Sources::Resolve, manifest, errors, options.x64, uninstaller))
        return Refuse(errors);
    for (const std::string& warning : manifest.warnings)
        std::fprintf(stderr, "%s\n", warning.c_str());
    PackedPayload packed;
    std::string problem;
    std::string partPath = work + "/payload.bin";
    // The companions are made in the work folder, and put beside setup.exe once it is written.
    PartWriter parts(partPath, work, manifest.companionName, work + "/" + CompanionList,
        MediaLimit(manifest), ProgramReserve(manifest));
    const std::string& setting = manifest.Field("compression");
    Compression compression = setting == "smallest" ? Compression::Smallest : Compression::Default;
    bool solid = setting == "lzma";
    bool packedWhole = solid ? PackSolidPayload(manifest, parts, packed, problem)
                             : PackPayload(manifest, compression, parts, packed, problem);
    if (!packedWhole || !parts.Finish()) {
        std::fprintf(stderr, "%s\n", problem.empty() ? (options.outDir + ": cannot write the output").c_str() : problem.c_str());
        return 1;
    }
    // winget takes one file: a setup with companions it cannot install.
    if (!options.winget.empty() && parts.sizes.size() > 1) {
        std::fprintf(stderr, "%s: --winget: winget installs one file, and this setup needs companions\n",
            manifest.path.c_str());
        return 1;
    }
    PayloadPartsWritten written = {parts.sizes, parts.digests, parts.spanDigests};
    std::vector<unsigned char> section = SetupSection(manifest, translations, packed, written);
    std::string prebuilt = std::string(solid ? "setup-lzma" : "setup-zlib") + speaks + ".exe";
    std::vector<std::pair<std::string, std::string>> setups = {{"setup.exe", "setup" + variant}};
    if (options.alsoWithoutUtf8)
        setups.push_back({"setup-without-utf8.exe", "setup-without-utf8" + variant});
    // Each program made whole and signed in the work folder; put in its place, with the companions, only
    // once everything the run writes is written.
    for (const auto& setup : setups) {
        std::string made = work + "/" + setup.first;
        if (!WriteKitProgram(kit, prebuilt, setup.second, "Setup", "setup.exe", icon, section, manifest, image)
            || !AppendTrailer(image, partPath, manifest, options.outDir + "/" + setup.first)
            || !WritePlaced(made, image, partPath) || !Sign(made, manifest))
            return 1;
    }
    if (!options.keepUninstaller.empty()) {
        std::filesystem::create_directories(std::filesystem::u8path(options.keepUninstaller).parent_path(), error);
        std::filesystem::copy_file(uninstaller, options.keepUninstaller,
            std::filesystem::copy_options::overwrite_existing, error);
        if (error) {
            std::fprintf(stderr, "%s: cannot be written: %s\n", options.keepUninstaller.c_str(), error.message().c_str());
            return 1;
        }
    }
    std::string wingetPath;
    if (!options.winget.empty()) {
        Sha256Digest digest{};
        std::string hex;
        if (!FileDigest(work + "/setup.exe", digest)) {
            std::fprintf(stderr, "%s: cannot be read again for its digest\n", (work + "/setup.exe").c_str());
            return 1;
        }
        for (unsigned char byte : digest) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", byte);
            hex += pair;
        }
        std::filesystem::create_directories(std::filesystem::u8path(options.winget), error);
        wingetPath = options.winget + "/" + manifest.Field("folderName") + ".installer.yaml";
        std::string yaml = WingetManifest(manifest, options.wingetUrl, hex);
        if (error || !WritePlaced(wingetPath, std::vector<unsigned char>(yaml.begin(), yaml.end()))) {
            std::fprintf(stderr, "%s: cannot be written%s%s\n", wingetPath.c_str(), error ? ": " : "",
                error ? error.message().c_str() : "");
            return 1;
        }
    }
    std::string companions;
    bool placed = PlaceCompanions(work, options.outDir, companions);
    for (const auto& setup : setups) {
        std::string path = options.outDir + "/" + setup.first;
        if (placed)
            std::filesystem::rename(std::filesystem::u8path(work + "/" + setup.first), std::filesystem::u8path(path), error);
        if (!placed || error) {
            std::fprintf(stderr, "%s: cannot be put in its place%s%s\n", path.c_str(), error ? ": " : "",
                error ? error.message().c_str() : "");
            for (const auto& other : setups)
                std::remove((options.outDir + "/" + other.first).c_str());
            return 1;
        }
    }
    std::printf("%s\n", (options.outDir + "/setup.exe").c_str());
    std::fputs(companions.c_str(), stdout);
    if (!wingetPath.empty())
        std::printf("%s\n", wingetPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--all-languages") {
        std::map<std::string, Translations> translations;
        std::vector<std::string> errors;
        if (!ReadTranslations(argv[2], argv[3], translations, errors))
            return Refuse(errors);
        // English first, as a product's default.
        std::vector<std::string> names = {"en"};
        for (const auto& language : translations)
            if (language.first != "en")
                names.push_back(language.first);
        if (WriteIfChanged(argv[4], LanguageRecords(names, translations, nullptr, false, "AllLanguages", "AllLanguageCount")))
            return 0;
        std::fprintf(stderr, "%s: cannot be written\n", argv[4]);
        return 1;
    }
    PackOptions options;
    std::string kitDir = OwnFolder(argv[0]);
    Kit kit;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool valued = i + 1 < argc;
        if (argument == "--help") {
            std::fputs(Usage, stdout);
            std::fputs(Help, stdout);
            return 0;
        } else if (argument == "--version") {
            std::printf("pmpack %s\n", Version);
            return 0;
        } else if (argument == "-o" && valued) {
            options.outDir = argv[++i];
        } else if (argument == "--search" && valued) {
            options.search.push_back(argv[++i]);
        } else if (argument == "--x64") {
            options.x64 = true;
        } else if (argument == "--sign-command" && valued) {
            SignCommand = argv[++i];
        } else if (argument == "--winget" && valued) {
            options.winget = argv[++i];
        } else if (argument == "--winget-url" && valued) {
            options.wingetUrl = argv[++i];
        } else if (argument == "--kit" && valued) {
            kitDir = argv[++i];
        } else if (argument == "--programs" && valued) {
            kit.programs = argv[++i];
        } else if (argument == "--locale" && i + 2 < argc) {
            kit.locale = argv[++i];
            kit.compiled = argv[++i];
        } else if (argument == "--keep-uninstaller" && valued) {
            options.keepUninstaller = argv[++i];
        } else if (argument == "--pad-uninstaller" && valued) {
            options.padUninstaller = std::strtoull(argv[++i], nullptr, 10);
        } else if (argument == "--also-without-utf8") {
            options.alsoWithoutUtf8 = true;
        } else if (argument.compare(0, 1, "-") != 0 && options.manifest.empty()) {
            options.manifest = argument;
        } else {
            bool valueMissing = argument.compare(0, 1, "-") == 0 && !valued
                && std::string(" -o --search --sign-command --winget --winget-url --kit --programs --locale "
                               "--keep-uninstaller --pad-uninstaller ").find(" " + argument + " ") != std::string::npos;
            std::fprintf(stderr, "pmpack: %s: %s\n%s", argument.c_str(), valueMissing ? "needs a value" : "not understood",
                Usage);
            return 2;
        }
    }
    if (options.manifest.empty()) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (options.winget.empty() != options.wingetUrl.empty()) {
        std::fprintf(stderr, "pmpack: --winget and --winget-url go together: the manifest names the address setup.exe "
                             "is downloaded from\n%s", Usage);
        return 2;
    }
    if (options.outDir.empty())
        options.outDir = (std::filesystem::u8path(options.manifest).parent_path() / "out").u8string();
    if (kit.programs.empty())
        kit.programs = kitDir + "/programs/" + (options.x64 ? "x64" : "x86");
    if (kit.locale.empty()) {
        kit.locale = kitDir + "/locale";
        kit.compiled = kitDir + "/locale/compiled";
    }
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::u8path(kit.programs), error)) {
        std::fprintf(stderr, "pmpack: the kit's programs are not in %s (--kit names the folder that holds programs/)\n",
            kit.programs.c_str());
        return 1;
    }
    return Pack(options, kit);
}
