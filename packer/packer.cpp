// The packer: turns a product manifest into the compiled-in product: the
// configuration record, the agreement and the payload archive.
//   packer MANIFEST OUTDIR [--search DIR]... [--companions DIR] [--programs-built-for-x64]
// Writes OUTDIR/product_data.cpp, OUTDIR/product_blob.S and OUTDIR/agreement.bin
// (the agreement, which the program's image carries), OUTDIR/payload.bin (the
// payload's bytes that setup.exe carries after its image), the companions
// (Pelmora-1.bin ..., after the product's companionName or folderName) into
// the companions' folder (OUTDIR unless named) when the payload is too large
// for setup.exe, OUTDIR/companions.txt (their paths, one a line),
// OUTDIR/product.d (a depfile) and OUTDIR/warnings.txt (its warnings again).
//   packer --append PROGRAM PAYLOAD MANIFEST SIGNING_SETTINGS
// Appends the image's trailer and the payload's part to the linked program,
// unless the program would then hold more than the manifest's mediaSize
// allows, with room for a signature when the build's signing settings
// (cmake/sign.cmake) sign it.
//   packer --uninstaller MANIFEST OUTDIR LOCALE COMPILED
// Writes OUTDIR/uninstall_data.cpp (what the uninstaller removes),
// OUTDIR/product_resources.h (the icon and name for the resource scripts),
// OUTDIR/product_signing.cmake (what a signature says of the product),
// OUTDIR/uninstaller.ico (the uninstaller's small icon), OUTDIR/languages.cpp
// and OUTDIR/uninstall_languages.cpp (the product's languages, with the
// translations of locale/NAME.po that msgfmt compiled into COMPILED/NAME.mo,
// for the setup and for the uninstaller) and OUTDIR/uninstall.d.
//   packer --all-languages LOCALE COMPILED OUTFILE
// Writes every language of LOCALE as AllLanguages, for the tests.
#include "manifest.h"
#include "languages.h"
#include "text.h"
#include "names.h"
#include "compress.h"
#include "parts.h"
#include "sha256.h"
#include "image_trailer.h"
#include "spans.h"
#include <algorithm>
#include <set>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

// The list of the companions the last run wrote, in OUTDIR.
const char CompanionList[] = "companions.txt";
// What begins the line of the build's signing settings that says it signs.
const char SigningOnSetting[] = "set(SIGN_ON ";
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

std::string AsmPath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// A path in a depfile, which separates paths with blanks: a blank and "#"
// are escaped with a backslash, and "$" is doubled. The backslashes that
// come before a blank (a Windows folder's separator) are doubled too: 2N+1
// backslashes and a blank stand for N and a blank.
std::string DepfilePath(const std::string& path)
{
    std::string out;
    size_t backslashes = 0;
    for (char c : path) {
        if (c == ' ')
            out.append(backslashes + 1, '\\');
        else if (c == '#')
            out += '\\';
        else if (c == '$')
            out += '$';
        out += c;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    return out;
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

// The configuration record; a field outside `kept` is left empty (or 0) for a
// program that does not read it.
std::string ConfigRecord(const Manifest& manifest, const std::vector<std::string>& kept = {})
{
    std::ostringstream out;
    out << "ProductConfigRecord ProductConfig = {\n";
    for (const auto& field : manifest.fields) {
        bool used = kept.empty() || std::find(kept.begin(), kept.end(), field.first) != kept.end();
        std::string value = used ? field.second : IsNumberField(field.first) ? "0" : "";
        out << "    " << (IsNumberField(field.first) ? value : CString(value)) << ", // " << field.first << "\n";
    }
    out << "};\n";
    return out.str();
}

// Where each slice lies in the payload, and how many each file has; for a
// solid payload, where each block lies, and what it holds.
struct PackedPayload {
    std::vector<int32_t> sliceCounts; // per file
    std::vector<uint64_t> offsets;    // per slice, in order
    std::vector<uint32_t> lengths;    // per slice
    uint64_t bytes = 0;               // the files' content
    uint64_t payloadBytes = 0;        // the payload's, compressed
    bool solid = false;
    std::vector<uint64_t> blockOffsets;
    std::vector<uint32_t> blockLengths;
    std::vector<uint32_t> blockSizes;
    std::vector<uint32_t> lastSliceSizes; // per file
};

// A table of numbers.
template <typename Number> std::string NumberTable(const char* type, const char* name, const std::vector<Number>& values)
{
    std::ostringstream out;
    out << "const " << type << " " << name << "[] = {";
    for (size_t k = 0; k < values.size(); ++k)
        out << (k ? ", " : "") << values[k];
    out << (values.empty() ? "0" : "") << "};\n";
    return out.str();
}

// A table of SHA-256 digests.
std::string DigestTable(const char* name, const std::vector<std::array<unsigned char, 32>>& digests)
{
    std::ostringstream out;
    out << "const unsigned char " << name << "[][32] = {";
    for (size_t k = 0; k < digests.size(); ++k) {
        out << (k ? ", {" : "{");
        for (size_t b = 0; b < digests[k].size(); ++b)
            out << (b ? ", " : "") << unsigned(digests[k][b]);
        out << "}";
    }
    out << (digests.empty() ? "{0}" : "") << "};\n";
    return out.str();
}

// The product's details beyond the configuration record; the uninstaller's
// have no size (it writes no entry).
std::string DetailsRecord(const Manifest& manifest, uint64_t kilobytes)
{
    const std::string installFor = manifest.Field("installFor");
    return "\nProductDetailsRecord ProductDetails = {" + CString(manifest.Field("publisher")) + ", "
        + CString(manifest.Field("version")) + ", " + std::to_string(kilobytes) + ", "
        + (manifest.Field("architecture") == "x64" ? "1" : "0") + ", "
        + (installFor == "user" ? "InstallForUser" : installFor == "ask" ? "InstallForAsk" : "InstallForMachine")
        + "};\n";
}

std::string Tables(const Manifest& manifest, const PackedPayload& packed, const PartWriter& parts)
{
    std::ostringstream out;
    out << "// Generated by the packer from " << manifest.path << ". Do not edit.\n"
        << "#include \"archive.h\"\n#include \"product.h\"\n\n"
        << "extern \"C\" const char ProductAgreement[];\n\n"
        << ConfigRecord(manifest) << "\nconst uint32_t ProductCodePage = " << manifest.codePage << ";\n"
        << "const char* AgreementText = ProductAgreement;\n" << DetailsRecord(manifest, (packed.bytes + 1023) / 1024)
        << "\nnamespace {\n";
    // Every slice's length in one table for the whole payload, each file's
    // entries a run of it: an array per file would give the object file a
    // section each, and it holds at most 32,767.
    size_t count = manifest.files.size();
    const std::vector<int32_t>& sliceCounts = packed.sliceCounts;
    out << NumberTable("uint32_t", "everySliceLength", packed.lengths);
    std::vector<size_t> firstSlice(count, 0);
    for (size_t f = 1; f < count; ++f)
        firstSlice[f] = firstSlice[f - 1] + size_t(sliceCounts[f - 1]);
    auto perFile = [&](const char* type, const char* name, auto value) {
        out << "const " << type << " " << name << "[] = {";
        for (size_t f = 0; f < count; ++f)
            out << (f ? ", " : "") << value(f);
        if (count == 0)
            out << "0";
        out << "};\n";
    };
    perFile("char* const", "fileNames", [&](size_t f) { return CString(manifest.files[f].name); });
    perFile("int32_t", "sliceCounts", [&](size_t f) { return std::to_string(sliceCounts[f]); });
    // A file's slices follow one another: where its first begins is enough.
    if (!packed.solid)
        perFile("uint64_t", "fileOffsets", [&](size_t f) {
            return std::to_string(sliceCounts[f] ? packed.offsets[firstSlice[f]] : 0);
        });
    perFile("uint32_t* const", "sliceLengths", [&](size_t f) {
        return sliceCounts[f] && !packed.solid ? "everySliceLength + " + std::to_string(firstSlice[f])
                                               : std::string("nullptr");
    });
    perFile("int32_t", "fileTimes", [&](size_t f) { return std::to_string(manifest.files[f].time); });
    if (packed.solid)
        out << NumberTable("uint64_t", "blockOffsets", packed.blockOffsets)
            << NumberTable("uint32_t", "blockLengths", packed.blockLengths)
            << NumberTable("uint32_t", "blockSizes", packed.blockSizes)
            << NumberTable("uint32_t", "lastSliceSizes", packed.lastSliceSizes)
            << "const SolidBlocks solidBlocks = {" << packed.blockSizes.size()
            << ", blockOffsets, blockLengths, blockSizes, lastSliceSizes};\n";
    out << NumberTable("uint64_t", "partSizes", parts.sizes) << DigestTable("partDigests", parts.digests)
        << DigestTable("spanDigests", parts.spanDigests);
    // Each archive names its decoder: a setup links only the one its payload needs.
    out << "} // namespace\n\nconst PayloadArchiveTables PayloadArchive = {" << count << ", fileNames, sliceCounts, "
        << (packed.solid ? "nullptr" : "fileOffsets") << ", sliceLengths, fileTimes, " << (packed.solid ? "&BlockUnpacker, &solidBlocks" : "&SliceInflater, nullptr")
        << ", {" << parts.sizes.size() << ", partSizes, partDigests, " << CString(manifest.companionName) << "}, {"
        << parts.spanDigests.size() << ", spanDigests}};\n";
    return out.str();
}

// Resource scripts write a double quote inside a string as two, and a
// backslash (a Windows path's separator) as two.
std::string RcString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out + "\"";
}

// Written beside the header, whose folder the resource compiler searches: the
// header names it alone, the same wherever it is written.
const char UninstallerIcon[] = "uninstaller.ico";

// Which of the application manifests the programs carry: the one that asks
// for administrator rights, for a product installed for the machine alone;
// for one a user may install for themselves, the one that asks for nothing
// (the setup asks when the machine is chosen).
std::string ManifestVariant(const Manifest& manifest)
{
    return manifest.Field("installFor") == "machine" ? ".manifest" : "-as-invoker.manifest";
}

// The resource compiler reads the product's name in UTF-8, and the version
// information is declared in Unicode (code page 1200). The icon's digest
// changes the header when the icon changes: the build knows no other way
// that the scripts including it must be compiled again.
std::string Resources(const Manifest& manifest)
{
    std::string icon;
    uint64_t digest = 14695981039346656037ULL;
    if (ReadAll(manifest.icon, icon))
        for (unsigned char c : icon)
            digest = (digest ^ c) * 1099511628211ULL;
    return "// Generated by the packer. Do not edit.\n// The icon's digest: " + std::to_string(digest)
        + "\n#pragma code_page(65001)\n#define PRODUCT_ICON_FILE " + RcString(manifest.icon)
        + "\n#define PRODUCT_UNINSTALLER_ICON_FILE " + RcString(UninstallerIcon)
        + "\n#define PRODUCT_DISPLAY_NAME " + RcString(manifest.Field("displayName"))
        + "\n#define PRODUCT_SETUP_MANIFEST " + RcString("setup" + ManifestVariant(manifest))
        + "\n#define PRODUCT_UNINSTALLER_MANIFEST " + RcString("uninstall" + ManifestVariant(manifest)) + "\n";
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

// What the uninstaller removes: the payload's names below the installation
// folder, in installation order and with backslashes, and the folders they
// need, innermost first; and the configuration fields it reads.
std::string UninstallData(const Manifest& manifest)
{
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::set<std::string> known; // the folders so far, in upper case
    for (const ManifestFile& file : manifest.files) {
        if (IsSystemName(file.name.c_str()))
            continue;
        std::string name = file.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        files.push_back(name);
        for (size_t at = name.rfind('\\'); at != std::string::npos && at > 0; at = name.rfind('\\', at - 1))
            if (known.insert(Upper(name.substr(0, at))).second)
                folders.push_back(name.substr(0, at));
    }
    auto depth = [](const std::string& folder) { return std::count(folder.begin(), folder.end(), '\\'); };
    std::stable_sort(folders.begin(), folders.end(),
        [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    std::ostringstream out;
    out << "// Generated by the packer from " << manifest.path << ". Do not edit.\n"
        << "#include \"product.h\"\n#include \"uninstall.h\"\n\n"
        << ConfigRecord(manifest,
               {"folderName", "displayName", "profileFile", "offerStartupGroup", "mainExecutable", "serviceExecutable",
                   "warnOfRunningCopies", "useAgentService"})
        // The version names the product in the log; the uninstaller writes no entry, so no size.
        << DetailsRecord(manifest, 0)
        << "// The uninstaller shows no agreement.\nconst char* AgreementText = \"\";\n"
        << "\nnamespace {\n";
    auto table = [&](const char* name, const std::vector<std::string>& texts) {
        out << "const char* const " << name << "[] = {";
        for (size_t i = 0; i < texts.size(); ++i)
            out << (i ? ", " : "") << CString(texts[i]);
        out << (texts.empty() ? "nullptr" : "") << "};\n";
    };
    table("fileNames", files);
    table("folderNames", folders);
    out << "} // namespace\n\nconst UninstallTables UninstallPayload = {" << files.size() << ", fileNames, "
        << folders.size() << ", folderNames};\n";
    return out.str();
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

// What a signature says of the product, for the build's signing step: its
// name and web address as the manifest writes them, in CMake's bracket quotes.
std::string SigningDescription(const Manifest& manifest)
{
    auto quoted = [](const std::string& text) {
        // The closing bracket must first appear where it is put: not inside
        // the text, nor begun by the text's last characters ("...]=").
        std::string fence = "=";
        while ((text + "]" + fence + "]").find("]" + fence + "]") < text.size())
            fence += "=";
        return "[" + fence + "[" + text + "]" + fence + "]";
    };
    return "# Generated by the packer. Do not edit.\nset(PRODUCT_SIGNING_NAME " + quoted(manifest.Field("displayName"))
        + ")\nset(PRODUCT_SIGNING_URL " + quoted(manifest.Field("url")) + ")\n";
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

// The uninstaller's data and the resource names both programs take: made
// before the payload, which holds the uninstaller.
int WriteUninstallerData(const std::string& manifestPath, const std::string& outDir, const std::string& localeDir,
    const std::string& compiledDir)
{
    Manifest manifest;
    std::vector<std::string> errors;
    std::map<std::string, Translations> translations;
    bool read = ReadManifest(manifestPath, {}, Sources::Ignore, manifest, errors);
    // Every language's translations are checked, whichever the product ships.
    bool translated = ReadTranslations(localeDir, compiledDir, translations, errors);
    for (const std::string& language : read && translated ? manifest.languages : std::vector<std::string>())
        if (!translations.count(language))
            errors.push_back(manifestPath + ": field 'languages': no translations into " + language + " ("
                + localeDir + "/" + language + ".po)");
    if (!errors.empty())
        return Refuse(errors);
    std::string depfile = DepfilePath(outDir + "/uninstall_data.cpp") + ": " + DepfilePath(manifestPath) + " "
        + DepfilePath(manifest.icon);
    for (const std::string& input : manifest.localizedFiles)
        depfile += " " + DepfilePath(input);
    for (const auto& language : translations)
        depfile += " " + DepfilePath(compiledDir + "/" + language.first + ".mo");
    depfile += "\n";
    std::string icon;
    if (!ReadAll(manifest.icon, icon)) {
        std::fprintf(stderr, "%s: cannot read the icon\n", manifest.icon.c_str());
        return 1;
    }
    if (!WriteIfChanged(outDir + "/uninstall_data.cpp", UninstallData(manifest))
        || !WriteIfChanged(outDir + "/" + UninstallerIcon, SmallIcon(icon))
        || !WriteIfChanged(outDir + "/product_resources.h", Resources(manifest))
        || !WriteIfChanged(outDir + "/product_signing.cmake", SigningDescription(manifest))
        || !WriteIfChanged(outDir + "/languages.cpp",
            LanguageRecords(manifest.languages, translations, &manifest, true, "ProductLanguages", "ProductLanguageCount"))
        || !WriteIfChanged(outDir + "/uninstall_languages.cpp",
            LanguageRecords(manifest.languages, translations, &manifest, false, "ProductLanguages", "ProductLanguageCount"))
        || !WriteText(outDir + "/uninstall.d", depfile)) {
        std::fprintf(stderr, "%s: cannot write the output\n", outDir.c_str());
        return 1;
    }
    return 0;
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

// Whether the build's signing settings (cmake/sign.cmake) sign the program.
bool SignedBy(const std::string& settingsPath)
{
    std::ifstream settings(settingsPath);
    for (std::string line; std::getline(settings, line);)
        if (line.rfind(SigningOnSetting, 0) == 0)
            return true;
    return false;
}

// The linked program followed by its image's trailer and the payload's part
// it carries, unless that, and a signature's room when the build signs it,
// would be more than one file of the setup may hold.
int AppendPayload(const std::string& programPath, const std::string& partPath, const std::string& manifestPath,
    const std::string& signingSettings)
{
    Manifest manifest;
    std::vector<std::string> errors;
    if (!ReadManifest(manifestPath, {}, Sources::Ignore, manifest, errors)) {
        std::remove(programPath.c_str());
        return Refuse(errors);
    }
    std::string image;
    std::string digest = ReadAll(programPath, image) ? ImageDigest(image) : "";
    if (digest.empty()) {
        std::fprintf(stderr, "%s: not a program whose image ends with its last section\n", programPath.c_str());
        std::remove(programPath.c_str());
        return 1;
    }
    std::ifstream part(partPath, std::ios::binary | std::ios::ate);
    uint64_t partSize = part ? uint64_t(std::streamoff(part.tellg())) : 0;
    uint64_t signature = SignedBy(signingSettings) ? SignatureRoom : 0;
    uint64_t needed = image.size() + ImageTrailerSize + partSize + signature;
    if (needed > MediaLimit(manifest)) {
        std::string needs = "its program's image of " + std::to_string(image.size()) + " bytes, the image's trailer of "
            + std::to_string(ImageTrailerSize) + (partSize ? ", its payload's part of " + std::to_string(partSize) : "")
            + (signature ? " and room for its signature of " + std::to_string(signature) : "");
        if (manifest.mediaSize)
            std::fprintf(stderr, "%s:%d: field 'mediaSize': %s bytes cannot hold setup.exe: use at least %s (%s)\n",
                manifestPath.c_str(), manifest.mediaSizeLine, std::to_string(manifest.mediaSize).c_str(),
                std::to_string(needed).c_str(), needs.c_str());
        else
            std::fprintf(stderr, "%s: the program with its payload is larger than a program may be (%s)\n",
                programPath.c_str(), needs.c_str());
        std::remove(programPath.c_str());
        return 1;
    }
    part.seekg(0);
    std::ofstream program(programPath, std::ios::binary | std::ios::app);
    program.write(ImageTrailerTag, ImageTagSize).write(digest.data(), std::streamsize(digest.size()));
    std::vector<char> buffer(1 << 20);
    while (part && program) {
        part.read(buffer.data(), std::streamsize(buffer.size()));
        program.write(buffer.data(), part.gcount());
    }
    program.close();
    if (!part.eof() || !program) {
        std::fprintf(stderr, "%s: the payload could not be appended\n", programPath.c_str());
        std::remove(programPath.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "--uninstaller")
        return WriteUninstallerData(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 6 && std::string(argv[1]) == "--append")
        return AppendPayload(argv[2], argv[3], argv[4], argv[5]);
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
    if (argc < 3 || std::string(argv[1]).compare(0, 2, "--") == 0) {
        std::fprintf(stderr, "usage: packer MANIFEST OUTDIR [--search DIR]... [--companions DIR] "
                             "[--programs-built-for-x64]\n"
                             "       packer --uninstaller MANIFEST OUTDIR LOCALE COMPILED\n"
                             "       packer --append PROGRAM PAYLOAD MANIFEST SIGNING_SETTINGS\n"
                             "       packer --all-languages LOCALE COMPILED OUTFILE\n");
        return 2;
    }
    std::string manifestPath = argv[1];
    std::string outDir = argv[2];
    std::string companions = outDir;
    std::vector<std::string> search;
    bool programsBuiltForX64 = false;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--search" && i + 1 < argc)
            search.push_back(argv[++i]);
        else if (std::string(argv[i]) == "--companions" && i + 1 < argc)
            companions = argv[++i];
        else if (std::string(argv[i]) == "--programs-built-for-x64")
            programsBuiltForX64 = true;
    }

    Manifest manifest;
    std::vector<std::string> errors;
    if (!ReadManifest(manifestPath, search, Sources::Resolve, manifest, errors, programsBuiltForX64))
        return Refuse(errors);
    std::string warnings;
    for (const std::string& warning : manifest.warnings) {
        std::fprintf(stderr, "%s\n", warning.c_str());
        warnings += warning + "\n";
    }
    // The payload: every slice in order, or the xz stream of its blocks, in
    // the program's part or in its companions.
    PackedPayload packed;
    std::string problem;
    PartWriter parts(outDir + "/payload.bin", companions, manifest.companionName, outDir + "/" + CompanionList,
        MediaLimit(manifest), ProgramReserve(manifest));
    const std::string& setting = manifest.Field("compression");
    Compression compression = setting == "smallest" ? Compression::Smallest : Compression::Default;
    bool packedWhole = setting == "lzma" ? PackSolidPayload(manifest, parts, packed, problem)
                                         : PackPayload(manifest, compression, parts, packed, problem);
    if (!packedWhole || !parts.Finish()) {
        std::fprintf(stderr, "%s\n", problem.empty() ? (outDir + ": cannot write the output").c_str() : problem.c_str());
        return 1;
    }

    std::ostringstream assembly;
    // The C name with the target's own prefix ("_" on 32-bit Windows, none on 64-bit).
    std::string agreementPath = outDir + "/agreement.bin";
    assembly << "/* Generated by the packer. Do not edit. */\n#define JOIN(a, b) a##b\n"
             << "#define SYMBOL(prefix, name) JOIN(prefix, name)\n"
             << "#define AGREEMENT SYMBOL(__USER_LABEL_PREFIX__, ProductAgreement)\n"
             << "    .section .rdata,\"dr\"\n    .globl AGREEMENT\nAGREEMENT:\n    .incbin \""
             << AsmPath(agreementPath) << "\"\n";
    std::ostringstream depfile;
    depfile << DepfilePath(outDir + "/product_data.cpp") << ":";
    for (const std::string& input : {manifestPath, manifest.agreement, manifest.icon})
        depfile << " " << DepfilePath(input);
    for (const ManifestFile& file : manifest.files)
        depfile << " " << DepfilePath(file.source);
    depfile << "\n";
    // The agreement and its zero byte.
    if (!WriteIfChanged(agreementPath, std::string(manifest.agreementText.c_str(), manifest.agreementText.size() + 1))
        || !WriteIfChanged(outDir + "/product_blob.S", assembly.str())
        || !WriteIfChanged(outDir + "/product_data.cpp", Tables(manifest, packed, parts))
        || !WriteText(outDir + "/product.d", depfile.str())
        // Also kept with the output, where tools/package shows them after every build, the packer run or not.
        || !WriteIfChanged(outDir + "/warnings.txt", warnings)) {
        std::fprintf(stderr, "%s: cannot write the output\n", outDir.c_str());
        return 1;
    }
    return 0;
}
