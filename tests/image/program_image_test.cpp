// The writing of a prebuilt program, on the build machine.
//   program_image_test PREBUILT ICON
//     refuses every malformed or unfit prebuilt and addition of its table with
//     its problem, takes each limit at its edge, and writes the same bytes twice;
//   program_image_test --write PREBUILT ICON OUT
//     writes the program the test under Wine reads back (written_program.h).
#include "program_image.h"
#include "written_program.h"
#include <cstdio>
#include <cstring>
#include <fstream>
#include <algorithm>
#include <functional>
#include <iterator>

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadFile(const char* path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

uint32_t Number(const Bytes& bytes, size_t at, unsigned width)
{
    uint32_t value = 0;
    for (unsigned b = 0; b < width; ++b)
        value |= uint32_t(bytes.at(at + b)) << (8 * b);
    return value;
}

void SetNumber(Bytes& bytes, size_t at, unsigned width, uint32_t value)
{
    for (unsigned b = 0; b < width; ++b)
        bytes.at(at + b) = static_cast<unsigned char>(value >> (8 * b));
}

// Where the fields the table changes lie in the prebuilt (as mingw's ld links it).
struct Layout {
    size_t pe, optional, directories, sectionTable, sectionCount, resources, relocations;
    uint32_t resourceAddress, resourceRaw, relocationRaw;

    explicit Layout(const Bytes& image)
    {
        pe = Number(image, 0x3C, 4);
        optional = pe + 24;
        bool plus = Number(image, optional, 2) == 0x20B;
        directories = optional + (plus ? 112 : 96);
        sectionTable = optional + Number(image, pe + 20, 2);
        sectionCount = Number(image, pe + 6, 2);
        relocations = sectionTable + (sectionCount - 1) * 40;
        resources = relocations - 40;
        resourceAddress = Number(image, resources + 12, 4);
        resourceRaw = Number(image, resources + 20, 4);
        relocationRaw = Number(image, relocations + 20, 4);
    }
    // The directory entry of the first entry of the resource directory at offset.
    size_t FirstEntry(size_t offset) const { return resourceRaw + offset + 16; }
    // The first resource's data entry, down type, name and language.
    size_t FirstDataEntry(const Bytes& image) const
    {
        size_t offset = 0;
        for (int level = 0; level < 3; ++level)
            offset = Number(image, FirstEntry(offset) + 4, 4) & 0x7FFFFFFF;
        return resourceRaw + offset;
    }
};

ProgramAdditions TestAdditions(const Bytes& icon)
{
    ProgramAdditions additions;
    additions.icon = icon;
    additions.manifest = written::Manifest;
    additions.version.productName = written::ProductName;
    additions.version.companyName = written::CompanyName;
    additions.version.productVersion = written::ProductVersion;
    additions.version.fileVersion = written::FileVersion;
    additions.version.fileDescription = written::FileDescription;
    additions.version.legalCopyright = written::LegalCopyright;
    additions.version.originalFilename = written::OriginalFilename;
    std::memcpy(additions.sectionName, written::SectionName, sizeof additions.sectionName);
    for (size_t at = 0; at < written::SectionSize; ++at)
        additions.section.push_back(written::SectionByte(at));
    return additions;
}

int failures = 0;

void Fail(const std::string& what)
{
    std::fprintf(stderr, "FAIL %s\n", what.c_str());
    ++failures;
}

struct Case {
    const char* name;
    std::function<void(Bytes& image, const Layout& layout, ProgramAdditions& additions)> change;
    // Part of the problem expected; empty: the program is written.
    const char* problem;
};

// Windows' loader (not Wine's) refuses a gap between sections in memory.
bool Contiguous(const Bytes& image)
{
    const Layout layout(image);
    uint32_t alignment = Number(image, layout.optional + 32, 4);
    uint64_t next = Number(image, layout.sectionTable + 12, 4);
    for (size_t k = 0; k < layout.sectionCount; ++k) {
        size_t header = layout.sectionTable + k * 40;
        if (Number(image, header + 12, 4) != next)
            return false;
        next += (Number(image, header + 8, 4) + alignment - 1) / alignment * alignment;
    }
    size_t last = layout.sectionTable + (layout.sectionCount - 1) * 40;
    return Number(image, layout.optional + 56, 4) == next
        && Number(image, last + 20, 4) + Number(image, last + 16, 4) == image.size();
}

void Relocation(Bytes& image, const Layout& layout, uint32_t offsetFromPageEnd)
{
    uint32_t kind = Number(image, layout.relocationRaw + 8, 2) >> 12;
    uint32_t width = kind == 3 ? 4 : 8;
    SetNumber(image, layout.relocationRaw, 4, layout.resourceAddress - 0x1000);
    SetNumber(image, layout.relocationRaw + 8, 2, kind << 12 | (0x1000 - width + offsetFromPageEnd));
}

const Case Cases[] = {
    {"as linked", [](Bytes&, const Layout&, ProgramAdditions&) {}, ""},
    {"empty file", [](Bytes& image, const Layout&, ProgramAdditions&) { image.clear(); }, "not a Windows program"},
    {"cut in its file header", [](Bytes& image, const Layout& layout, ProgramAdditions&) { image.resize(layout.pe + 10); },
        "file header is cut off"},
    {"cut within its headers", [](Bytes& image, const Layout&, ProgramAdditions&) { image.resize(0x200); },
        "section table reaches past"},
    {"cut within its sections", [](Bytes& image, const Layout&, ProgramAdditions&) { image.resize(image.size() / 2); },
        "reaches past the end of the file"},
    {"another machine", [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.pe + 4, 2, 0x1C4); },
        "not a 32-bit x86"},
    {"section table out of its headers",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.pe + 20, 2, 0xFFF0); },
        "section table reaches past"},
    {"section out of the file",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.sectionTable + 20, 4, 0x7FFFFFF0); },
        "section 1 reaches past the end of the file"},
    {".rsrc not last", [](Bytes& image, const Layout& layout, ProgramAdditions&) { image[layout.relocations + 1] = 'x'; },
        ".rsrc section is not its last"},
    {"bytes after the last section", [](Bytes& image, const Layout&, ProgramAdditions&) { image.resize(image.size() + 16); },
        "bytes after its last section"},
    {"signed",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.directories + 4 * 8, 4, 0x1000);
            SetNumber(image, layout.directories + 4 * 8 + 4, 4, 8);
        },
        "is signed"},
    {"entry point in .rsrc",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.optional + 16, 4, layout.resourceAddress); },
        "entry point lies in or after"},
    {"debug directory ends where .rsrc begins",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.directories + 6 * 8, 4, layout.resourceAddress - 8);
            SetNumber(image, layout.directories + 6 * 8 + 4, 4, 8);
        },
        ""},
    {"debug directory reaches into .rsrc",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.directories + 6 * 8, 4, layout.resourceAddress - 7);
            SetNumber(image, layout.directories + 6 * 8 + 4, 4, 8);
        },
        "data directory 6 lies in or after"},
    {"relocation ending where .rsrc begins",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { Relocation(image, layout, 0); }, ""},
    {"relocation reaching into .rsrc",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { Relocation(image, layout, 1); },
        "relocation in or after its .rsrc"},
    {"relocation block cut off",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.relocationRaw + 4, 4, 0x7FFFFFF0); },
        "relocations are cut off"},
    {"headers with room for exactly one more section",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.optional + 60, 4, uint32_t(layout.sectionTable + (layout.sectionCount + 1) * 40));
        },
        ""},
    {"headers without room for one more section",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.optional + 60, 4, uint32_t(layout.sectionTable + (layout.sectionCount + 1) * 40 - 1));
        },
        "no room for one more section"},
    {"resource directory looping",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.FirstEntry(0) + 4, 4, 0x80000000);
        },
        "directory loops"},
    {"resource directory out of bounds",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) { SetNumber(image, layout.resourceRaw + 14, 2, 0xFFFF); },
        "directory lies outside"},
    {"resource name out of bounds",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.FirstEntry(0), 4, 0x8000FFF0);
        },
        "name lies outside"},
    {"resource data out of bounds",
        [](Bytes& image, const Layout& layout, ProgramAdditions&) {
            SetNumber(image, layout.FirstDataEntry(image) + 4, 4, 0x7FFFFFF0);
        },
        "data lies outside"},
    {"version field not UTF-8",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.version.companyName = "Pelmora \xC3\x28"; },
        "CompanyName is not UTF-8"},
    {"version field with an overlong character",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.version.productName = "\xC0\xAF"; },
        "ProductName is not UTF-8"},
    {"version field with a surrogate",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.version.legalCopyright = "\xED\xA0\x80"; },
        "LegalCopyright is not UTF-8"},
    {"version field cut in a character",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.version.fileDescription = "\xF0\x9F\x90"; },
        "FileDescription is not UTF-8"},
    {"version field past U+10FFFF",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.version.internalName = "\xF4\x90\x80\x80"; },
        "InternalName is not UTF-8"},
    {"icon cut in its directory",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.icon.resize(6 + 16 * 2); },
        "not a .ico file"},
    {"icon image out of its file",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.icon.resize(additions.icon.size() - 1); },
        "image 3 lies outside"},
    {"icon without images",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.icon[4] = 0; }, "not a .ico file"},
    {"section without a name",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { additions.sectionName[0] = '\0'; }, "has no name"},
    {"section named as one of the program's",
        [](Bytes&, const Layout&, ProgramAdditions& additions) { std::memcpy(additions.sectionName, ".rsrc\0\0", 8); },
        "already has a section"},
};

// The fixed part's version numbers, from the bytes that follow its signature.
bool FixedVersion(const Bytes& image, uint32_t& fileHigh, uint32_t& fileLow)
{
    const unsigned char signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto at = std::search(image.begin(), image.end(), std::begin(signature), std::end(signature));
    if (image.end() - at < 16)
        return false;
    size_t offset = size_t(at - image.begin());
    fileHigh = Number(image, offset + 8, 4);
    fileLow = Number(image, offset + 12, 4);
    return true;
}

void CheckVersionNumbers(const Bytes& prebuilt)
{
    const struct {
        const char* text;
        uint32_t high, low;
    } rows[] = {
        {"1.2.3.4", 0x00010002, 0x00030004},
        {"65535.0.7", 0xFFFF0000, 0x00070000},
        {"3", 0x00030000, 0},
        {"65536", 0, 0},
        {"1.2.3.4.5", 0, 0},
        {"1..2", 0, 0},
        {"1.2.", 0, 0},
        {"2.0 beta", 0, 0},
    };
    for (const auto& row : rows) {
        ProgramAdditions additions;
        additions.version.fileVersion = row.text;
        Bytes out;
        std::string problem;
        uint32_t high = 1, low = 1;
        if (!WriteProgram(prebuilt, additions, out, problem) || !FixedVersion(out, high, low))
            Fail(std::string("version ") + row.text + ": not written: " + problem);
        else if (high != row.high || low != row.low)
            Fail(std::string("version ") + row.text + ": fixed numbers " + std::to_string(high) + " " + std::to_string(low));
    }
}

int RunCases(const Bytes& prebuilt, const Bytes& icon)
{
    const Layout layout(prebuilt);
    for (const Case& test : Cases) {
        Bytes image = prebuilt;
        ProgramAdditions additions = TestAdditions(icon);
        test.change(image, layout, additions);
        Bytes out;
        std::string problem;
        bool written = WriteProgram(image, additions, out, problem);
        std::string name = test.name;
        if (*test.problem == '\0') {
            if (!written)
                Fail(name + ": refused: " + problem);
            else if (Number(out, layout.optional + 64, 4) != ImageChecksum(out))
                Fail(name + ": the checksum field is not the image's checksum");
            else if (!Contiguous(out))
                Fail(name + ": the written sections are not where Windows' loader takes them");
        } else if (written) {
            Fail(name + ": written, not refused");
        } else if (problem.find(test.problem) == std::string::npos || problem.find('\n') != std::string::npos) {
            Fail(name + ": refused with '" + problem + "', not '" + test.problem + "'");
        }
    }
    ProgramAdditions additions = TestAdditions(icon);
    Bytes first, second, again;
    std::string problem;
    if (!WriteProgram(prebuilt, additions, first, problem) || !WriteProgram(prebuilt, additions, second, problem)
        || first != second)
        Fail("the same input written twice gave other bytes: " + problem);
    else if (WriteProgram(first, additions, again, problem) || problem.find("not its last") == std::string::npos)
        Fail("a written program was taken as a prebuilt one: " + problem);
    CheckVersionNumbers(prebuilt);
    std::printf("%zu cases, %d failed\n", std::size(Cases), failures);
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool write = argc == 5 && std::strcmp(argv[1], "--write") == 0;
    if (!write && argc != 3) {
        std::fprintf(stderr, "usage: program_image_test [--write] PREBUILT ICON [OUT]\n");
        return 2;
    }
    Bytes prebuilt, icon;
    if (!ReadFile(argv[write ? 2 : 1], prebuilt) || !ReadFile(argv[write ? 3 : 2], icon)) {
        std::fprintf(stderr, "cannot read the prebuilt program or the icon\n");
        return 2;
    }
    if (!write)
        return RunCases(prebuilt, icon);
    Bytes out;
    std::string problem;
    if (!WriteProgram(prebuilt, TestAdditions(icon), out, problem)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], problem.c_str());
        return 1;
    }
    std::ofstream file(argv[4], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return file.good() ? 0 : 1;
}
