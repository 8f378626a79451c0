#include "program_image.h"
#include <algorithm>
#include <cstring>
#include <set>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t MachineI386 = 0x14C;
constexpr uint32_t MachineAmd64 = 0x8664;
constexpr uint32_t MagicPe32 = 0x10B;
constexpr uint32_t MagicPe32Plus = 0x20B;
constexpr uint64_t FileHeaderAt = 4;
constexpr uint64_t OptionalHeaderAt = 24;
constexpr uint64_t SectionHeaderSize = 40;
constexpr uint64_t MaxSections = 0xFFFF;
// Fields of the optional header, the same in PE32 and PE32+ up to the checksum.
constexpr uint64_t InitializedDataAt = 8;
constexpr uint64_t EntryPointAt = 16;
constexpr uint64_t SectionAlignmentAt = 32;
constexpr uint64_t FileAlignmentAt = 36;
constexpr uint64_t ImageSizeAt = 56;
constexpr uint64_t HeadersSizeAt = 60;
constexpr uint64_t ChecksumAt = 64;
constexpr uint64_t DirectoryCountAt = 92;
constexpr uint64_t DirectoryCountAtPlus = 108;
constexpr uint32_t ResourceDirectory = 2;
constexpr uint32_t CertificateDirectory = 4;
constexpr uint32_t RelocationDirectory = 5;
constexpr uint32_t AddedSectionFlags = 0x00000040 | 0x40000000; // initialised data, readable
constexpr uint64_t LargestImage = 0xFFFFFFFFull;

constexpr uint32_t TypeIcon = 3;
constexpr uint32_t TypeGroupIcon = 14;
constexpr uint32_t TypeVersion = 16;
constexpr uint32_t TypeManifest = 24;
constexpr uint32_t ManifestId = 1;
constexpr uint32_t VersionId = 1;
constexpr uint64_t ResourceDirectorySize = 16;
constexpr uint64_t ResourceEntrySize = 8;
constexpr uint64_t ResourceDataEntrySize = 16;
constexpr uint32_t SubdirectoryBit = 0x80000000u;
constexpr uint64_t ResourceDataAlignment = 8;
constexpr uint64_t ResourceLevels = 3;

constexpr uint64_t IconDirectorySize = 6;
constexpr uint64_t IconEntrySize = 16;
constexpr uint64_t GroupEntrySize = 14;

constexpr uint32_t RelocationAbsolute = 0;
constexpr uint32_t RelocationHighLow = 3;
constexpr uint32_t RelocationDir64 = 10;
constexpr uint64_t RelocationBlockHeader = 8;

bool Get(const Bytes& bytes, uint64_t at, unsigned width, uint32_t& value)
{
    if (at > bytes.size() || width > bytes.size() - at)
        return false;
    value = 0;
    for (unsigned b = 0; b < width; ++b)
        value |= uint32_t(bytes[at + b]) << (8 * b);
    return true;
}

void Put(Bytes& bytes, uint64_t at, unsigned width, uint64_t value)
{
    for (unsigned b = 0; b < width; ++b)
        bytes[at + b] = static_cast<unsigned char>(value >> (8 * b));
}

void Append(Bytes& bytes, unsigned width, uint64_t value)
{
    bytes.resize(bytes.size() + width);
    Put(bytes, bytes.size() - width, width, value);
}

uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

bool PowerOfTwo(uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

struct Section {
    uint64_t header;
    char name[8];
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

struct Image {
    uint64_t optional, directories, sectionTable;
    uint32_t directoryCount, sectionAlignment, fileAlignment, headersSize;
    std::vector<Section> sections;
    size_t resources;
    bool hasRelocations;
};

bool NamedSection(const Section& section, const char* name)
{
    char padded[8] = {};
    std::memcpy(padded, name, std::strlen(name));
    return std::memcmp(section.name, padded, sizeof padded) == 0;
}

bool Directory(const Bytes& bytes, const Image& image, uint32_t index, uint32_t& rva, uint32_t& size)
{
    rva = size = 0;
    if (index >= image.directoryCount)
        return true;
    return Get(bytes, image.directories + index * 8ull, 4, rva) && Get(bytes, image.directories + index * 8ull + 4, 4, size);
}

// The headers and section table of a prebuilt program, each field checked.
bool ReadImage(const Bytes& bytes, Image& image, std::string& problem)
{
    uint32_t pe = 0, signature = 0, machine = 0, sectionCount = 0, optionalSize = 0, magic = 0;
    if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z' || !Get(bytes, 0x3C, 4, pe)
        || !Get(bytes, pe, 4, signature) || signature != 0x00004550) {
        problem = "not a Windows program (no PE header)";
        return false;
    }
    if (!Get(bytes, pe + FileHeaderAt, 2, machine) || !Get(bytes, pe + 6, 2, sectionCount)
        || !Get(bytes, pe + 20, 2, optionalSize) || !Get(bytes, pe + OptionalHeaderAt, 2, magic)) {
        problem = "the program's file header is cut off";
        return false;
    }
    bool plus = magic == MagicPe32Plus;
    if (!(machine == MachineI386 && magic == MagicPe32) && !(machine == MachineAmd64 && plus)) {
        problem = "not a 32-bit x86 (PE32) or x64 (PE32+) program";
        return false;
    }
    image.optional = pe + OptionalHeaderAt;
    uint64_t countAt = image.optional + (plus ? DirectoryCountAtPlus : DirectoryCountAt);
    image.directories = countAt + 4;
    image.sectionTable = image.optional + optionalSize;
    uint32_t sizeOfImage = 0;
    if (countAt + 4 > image.sectionTable || !Get(bytes, countAt, 4, image.directoryCount)
        || !Get(bytes, image.optional + SectionAlignmentAt, 4, image.sectionAlignment)
        || !Get(bytes, image.optional + FileAlignmentAt, 4, image.fileAlignment)
        || !Get(bytes, image.optional + ImageSizeAt, 4, sizeOfImage)
        || !Get(bytes, image.optional + HeadersSizeAt, 4, image.headersSize)
        || image.directories + image.directoryCount * 8ull > image.sectionTable || image.directoryCount <= RelocationDirectory) {
        problem = "the program's optional header is cut off or too short";
        return false;
    }
    if (!PowerOfTwo(image.fileAlignment) || !PowerOfTwo(image.sectionAlignment)
        || image.fileAlignment > image.sectionAlignment) {
        problem = "the program's file and section alignments are not powers of two, the one within the other";
        return false;
    }
    uint64_t tableEnd = image.sectionTable + sectionCount * SectionHeaderSize;
    if (sectionCount == 0 || tableEnd > image.headersSize || image.headersSize > bytes.size()) {
        problem = "the program's section table reaches past its headers or its file";
        return false;
    }
    uint64_t previousEnd = image.headersSize, previousVirtualEnd = 0;
    image.sections.clear();
    for (uint32_t k = 0; k < sectionCount; ++k) {
        Section section;
        section.header = image.sectionTable + k * SectionHeaderSize;
        std::memcpy(section.name, &bytes[section.header], sizeof section.name);
        Get(bytes, section.header + 8, 4, section.virtualSize);
        Get(bytes, section.header + 12, 4, section.virtualAddress);
        Get(bytes, section.header + 16, 4, section.rawSize);
        Get(bytes, section.header + 20, 4, section.rawPointer);
        uint64_t virtualEnd = uint64_t(section.virtualAddress) + std::max(section.virtualSize, section.rawSize);
        if (section.virtualAddress < previousVirtualEnd || section.virtualAddress % image.sectionAlignment != 0
            || virtualEnd > sizeOfImage) {
            problem = "the program's section " + std::to_string(k + 1) + " overlaps another or lies outside its image";
            return false;
        }
        if (section.rawSize != 0
            && (section.rawPointer < previousEnd || uint64_t(section.rawPointer) + section.rawSize > bytes.size())) {
            problem = "the program's section " + std::to_string(k + 1) + " reaches past the end of the file or overlaps another";
            return false;
        }
        if (section.rawSize != 0)
            previousEnd = uint64_t(section.rawPointer) + section.rawSize;
        previousVirtualEnd = virtualEnd;
        image.sections.push_back(section);
    }
    if (previousEnd != bytes.size()) {
        problem = "the program has bytes after its last section (a signature, or another writing): not a prebuilt program";
        return false;
    }
    uint32_t rva = 0, size = 0;
    if (!Directory(bytes, image, CertificateDirectory, rva, size) || rva != 0 || size != 0) {
        problem = "the program is signed: not a prebuilt program";
        return false;
    }
    size_t count = image.sections.size();
    image.hasRelocations = count >= 2 && NamedSection(image.sections[count - 1], ".reloc");
    image.resources = count - (image.hasRelocations ? 2 : 1);
    if (!NamedSection(image.sections[image.resources], ".rsrc")) {
        problem = "the program's .rsrc section is not its last (before .reloc alone)";
        return false;
    }
    return true;
}

// Nothing the program reads from its image may lie where its .rsrc moves from.
bool CheckNothingAfterResources(const Bytes& bytes, const Image& image, std::string& problem)
{
    const Section& resources = image.sections[image.resources];
    uint32_t entry = 0;
    Get(bytes, image.optional + EntryPointAt, 4, entry);
    for (uint32_t index = 0; index < image.directoryCount; ++index) {
        uint32_t rva = 0, size = 0;
        Directory(bytes, image, index, rva, size);
        if (index == ResourceDirectory) {
            if (rva != resources.virtualAddress || size > resources.virtualSize) {
                problem = "the program's resource directory is not its .rsrc section";
                return false;
            }
        } else if (index == RelocationDirectory && image.hasRelocations) {
            const Section& relocations = image.sections.back();
            if (rva != relocations.virtualAddress || size > relocations.virtualSize || size > relocations.rawSize) {
                problem = "the program's relocation directory is not its .reloc section";
                return false;
            }
        } else if (size != 0 && uint64_t(rva) + size > resources.virtualAddress) {
            problem = "the program's data directory " + std::to_string(index) + " lies in or after its .rsrc section";
            return false;
        }
    }
    if (entry >= resources.virtualAddress) {
        problem = "the program's entry point lies in or after its .rsrc section";
        return false;
    }
    if (!image.hasRelocations)
        return true;
    const Section& relocations = image.sections.back();
    uint32_t rva = 0, size = 0;
    Directory(bytes, image, RelocationDirectory, rva, size);
    for (uint64_t at = relocations.rawPointer, end = at + size; at < end;) {
        uint32_t page = 0, blockSize = 0;
        if (end - at < RelocationBlockHeader || !Get(bytes, at, 4, page) || !Get(bytes, at + 4, 4, blockSize)
            || blockSize < RelocationBlockHeader || blockSize % 2 != 0 || blockSize > end - at) {
            problem = "the program's relocations are cut off";
            return false;
        }
        for (uint64_t item = at + RelocationBlockHeader; item < at + blockSize; item += 2) {
            uint32_t value = 0;
            Get(bytes, item, 2, value);
            uint32_t kind = value >> 12;
            uint64_t width = kind == RelocationHighLow ? 4 : 8;
            if (kind != RelocationAbsolute && kind != RelocationHighLow && kind != RelocationDir64) {
                problem = "the program has a relocation of kind " + std::to_string(kind) + ", which this does not keep";
                return false;
            }
            if (kind != RelocationAbsolute && uint64_t(page) + (value & 0xFFF) + width > resources.virtualAddress) {
                problem = "the program has a relocation in or after its .rsrc section, which would move";
                return false;
            }
        }
        at += blockSize;
    }
    return true;
}

// A resource's type or name: a text (upper-cased as Windows compares it) or a number.
struct ResourceName {
    bool named;
    std::u16string text;
    uint32_t id;
};

struct Resource {
    ResourceName type, name;
    uint32_t language, codePage;
    Bytes data;
};

ResourceName Numbered(uint32_t id)
{
    return ResourceName{false, std::u16string(), id};
}

char16_t Upper(char16_t c)
{
    // Latin-1 letters too (not the multiplication and division signs, nor ß and ÿ).
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return char16_t(c - 0x20);
    return c;
}

// Windows's order of a directory's entries: names first, compared without
// regard to case, then numbers ascending.
bool Before(const ResourceName& a, const ResourceName& b)
{
    if (a.named != b.named)
        return a.named;
    if (!a.named)
        return a.id < b.id;
    return std::lexicographical_compare(a.text.begin(), a.text.end(), b.text.begin(), b.text.end(),
        [](char16_t x, char16_t y) { return Upper(x) < Upper(y); });
}

bool Same(const ResourceName& a, const ResourceName& b)
{
    return !Before(a, b) && !Before(b, a);
}

bool SameResource(const Resource& a, const Resource& b)
{
    return Same(a.type, b.type) && Same(a.name, b.name) && a.language == b.language;
}

struct TreeReader {
    const Bytes& bytes;
    uint64_t start, size;
    uint32_t virtualAddress;
    std::set<uint64_t> visited;
    std::vector<Resource>& resources;
    std::string& problem;

    bool Fail(const char* what)
    {
        problem = std::string("the program's resources: ") + what;
        return false;
    }

    bool Field(uint64_t offset, unsigned width, uint32_t& value)
    {
        return offset + width <= size && Get(bytes, start + offset, width, value);
    }

    bool Name(uint32_t field, ResourceName& name)
    {
        name.named = (field & SubdirectoryBit) != 0;
        name.id = field;
        if (!name.named)
            return field <= 0xFFFF || Fail("an id is larger than 65535");
        uint64_t at = field & ~SubdirectoryBit;
        uint32_t length = 0;
        if (!Field(at, 2, length) || at + 2 + length * 2ull > size)
            return Fail("a name lies outside the .rsrc section");
        name.text.clear();
        for (uint32_t k = 0; k < length; ++k) {
            uint32_t unit = 0;
            Field(at + 2 + k * 2ull, 2, unit);
            name.text += char16_t(unit);
        }
        return true;
    }

    bool Read(uint64_t offset, unsigned level, Resource& path)
    {
        if (!visited.insert(offset).second)
            return Fail("the directory loops");
        uint32_t named = 0, numbered = 0;
        if (!Field(offset + 12, 2, named) || !Field(offset + 14, 2, numbered)
            || offset + ResourceDirectorySize + (named + numbered) * ResourceEntrySize > size)
            return Fail("a directory lies outside the .rsrc section");
        for (uint32_t k = 0; k < named + numbered; ++k) {
            uint64_t entry = offset + ResourceDirectorySize + k * ResourceEntrySize;
            uint32_t nameField = 0, target = 0;
            Field(entry, 4, nameField);
            Field(entry + 4, 4, target);
            bool subdirectory = (target & SubdirectoryBit) != 0;
            uint64_t targetOffset = target & ~SubdirectoryBit;
            if (level == 0 && !Name(nameField, path.type))
                return false;
            if (level == 1 && !Name(nameField, path.name))
                return false;
            if (level + 1 < ResourceLevels) {
                if (!subdirectory)
                    return Fail("a type or name holds data where a directory belongs");
                if (!Read(targetOffset, level + 1, path))
                    return false;
                continue;
            }
            if ((nameField & SubdirectoryBit) != 0)
                return Fail("a language is named by a text");
            if (subdirectory)
                return visited.count(targetOffset) ? Fail("the directory loops")
                                                   : Fail("the tree is deeper than type, name and language");
            uint32_t dataRva = 0, dataSize = 0, codePage = 0;
            if (!Field(targetOffset, 4, dataRva) || !Field(targetOffset + 4, 4, dataSize)
                || !Field(targetOffset + 8, 4, codePage) || targetOffset + ResourceDataEntrySize > size)
                return Fail("a data entry lies outside the .rsrc section");
            if (dataRva < virtualAddress || dataRva - virtualAddress > size || dataSize > size - (dataRva - virtualAddress))
                return Fail("a resource's data lies outside the .rsrc section");
            path.language = nameField;
            path.codePage = codePage;
            uint64_t from = start + (dataRva - virtualAddress);
            path.data.assign(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + dataSize));
            resources.push_back(path);
        }
        return true;
    }
};

bool ReadResources(const Bytes& bytes, const Section& section, std::vector<Resource>& resources, std::string& problem)
{
    uint64_t size = section.virtualSize ? std::min(section.virtualSize, section.rawSize) : section.rawSize;
    TreeReader reader{bytes, section.rawPointer, size, section.virtualAddress, {}, resources, problem};
    Resource path{Numbered(0), Numbered(0), 0, 0, {}};
    return size == 0 || reader.Read(0, 0, path);
}

// Strict UTF-8 to UTF-16: no overlong forms, surrogates, zero bytes or points past U+10FFFF.
bool Utf16(const std::string& text, std::u16string& wide)
{
    wide.clear();
    for (size_t at = 0; at < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || lead == 0 || text.size() - at < length)
            return false;
        uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[at + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = point << 6 | (next & 0x3F);
        }
        static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        if (point >= 0x10000) {
            wide += char16_t(0xD800 + ((point - 0x10000) >> 10));
            wide += char16_t(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            wide += char16_t(point);
        }
        at += length;
    }
    return true;
}

// 1 to 4 dot-separated numbers of 0..65535 into the fixed part's two words; else 0.
uint64_t VersionNumber(const std::string& text)
{
    uint64_t parts[4] = {};
    size_t count = 0, at = 0;
    while (count < 4) {
        size_t digits = 0;
        uint64_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
            value = value * 10 + uint64_t(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF)
            return 0;
        parts[count++] = value;
        if (at == text.size())
            return parts[0] << 48 | parts[1] << 32 | parts[2] << 16 | parts[3];
        if (text[at++] != '.')
            return 0;
    }
    return 0;
}

void AppendWide(Bytes& out, const std::u16string& text)
{
    for (char16_t unit : text)
        Append(out, 2, unit);
    Append(out, 2, 0);
}

void Pad4(Bytes& out)
{
    out.resize(AlignUp(out.size(), 4));
}

// One block of a version resource: its header, key, value and children, each
// 32-bit aligned; wLength counts up to the end of the last child, not its padding.
Bytes VersionBlock(const char16_t* key, uint32_t type, const Bytes& value, uint32_t valueLength,
    const std::vector<Bytes>& children)
{
    Bytes block;
    Append(block, 2, 0);
    Append(block, 2, valueLength);
    Append(block, 2, type);
    AppendWide(block, key);
    Pad4(block);
    block.insert(block.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Pad4(block);
        block.insert(block.end(), child.begin(), child.end());
    }
    Put(block, 0, 2, block.size());
    return block;
}

bool VersionResource(const VersionFields& fields, Bytes& out, std::string& problem)
{
    const struct {
        const char16_t* key;
        const std::string& value;
    } strings[] = {
        {u"CompanyName", fields.companyName},
        {u"FileDescription", fields.fileDescription},
        {u"FileVersion", fields.fileVersion},
        {u"InternalName", fields.internalName},
        {u"LegalCopyright", fields.legalCopyright},
        {u"OriginalFilename", fields.originalFilename},
        {u"ProductName", fields.productName},
        {u"ProductVersion", fields.productVersion},
    };
    std::vector<Bytes> table;
    for (const auto& field : strings) {
        if (field.value.empty())
            continue;
        std::u16string wide;
        if (!Utf16(field.value, wide)) {
            problem = "the version field " + std::string(field.key, field.key + std::char_traits<char16_t>::length(field.key))
                + " is not UTF-8 text without zero bytes";
            return false;
        }
        Bytes value;
        AppendWide(value, wide);
        table.push_back(VersionBlock(field.key, 1, value, uint32_t(wide.size() + 1), {}));
    }
    out.clear();
    if (table.empty())
        return true;
    Bytes fixed;
    uint64_t file = VersionNumber(fields.fileVersion), product = VersionNumber(fields.productVersion);
    for (uint64_t word : {uint64_t(0xFEEF04BD), uint64_t(0x00010000), file >> 32, file & 0xFFFFFFFF, product >> 32,
             product & 0xFFFFFFFF, uint64_t(0x3F), uint64_t(0), uint64_t(0x40004), uint64_t(1), uint64_t(0), uint64_t(0), uint64_t(0)})
        Append(fixed, 4, word);
    Bytes translation;
    Append(translation, 2, 0x0409);
    Append(translation, 2, 1200);
    Bytes strings16 = VersionBlock(u"StringFileInfo", 1, {}, 0, {VersionBlock(u"040904B0", 1, {}, 0, table)});
    Bytes vars = VersionBlock(u"VarFileInfo", 1, {}, 0, {VersionBlock(u"Translation", 0, translation, 4, {})});
    out = VersionBlock(u"VS_VERSION_INFO", 0, fixed, uint32_t(fixed.size()), {strings16, vars});
    if (out.size() > 0xFFFF) {
        problem = "the version fields are longer than a version resource may hold";
        return false;
    }
    return true;
}

struct IconImage {
    Bytes entry; // the ICONDIRENTRY's first 12 bytes: size, colours, planes, bits, bytes
    Bytes data;
};

bool ReadIcon(const Bytes& icon, std::vector<IconImage>& images, std::string& problem)
{
    uint32_t reserved = 0, type = 0, count = 0;
    if (!Get(icon, 0, 2, reserved) || !Get(icon, 2, 2, type) || !Get(icon, 4, 2, count) || reserved != 0 || type != 1
        || count == 0 || IconDirectorySize + count * IconEntrySize > icon.size()) {
        problem = "the icon is not a .ico file with at least one image";
        return false;
    }
    for (uint32_t k = 0; k < count; ++k) {
        uint64_t entry = IconDirectorySize + k * IconEntrySize;
        uint32_t size = 0, offset = 0;
        Get(icon, entry + 8, 4, size);
        Get(icon, entry + 12, 4, offset);
        if (size == 0 || offset > icon.size() || size > icon.size() - offset) {
            problem = "the icon's image " + std::to_string(k + 1) + " lies outside its file";
            return false;
        }
        images.push_back(IconImage{Bytes(icon.begin() + std::ptrdiff_t(entry), icon.begin() + std::ptrdiff_t(entry + 12)),
            Bytes(icon.begin() + std::ptrdiff_t(offset), icon.begin() + std::ptrdiff_t(offset + size))});
    }
    return true;
}

// The RT_ICON ids a group icon names (none where its bytes are not a group).
std::vector<uint32_t> GroupIds(const Bytes& group)
{
    std::vector<uint32_t> ids;
    uint32_t count = 0;
    if (!Get(group, 4, 2, count) || IconDirectorySize + count * GroupEntrySize > group.size())
        return ids;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id = 0;
        Get(group, IconDirectorySize + k * GroupEntrySize + 12, 2, id);
        ids.push_back(id);
    }
    return ids;
}

// The icon's images under the lowest RT_ICON ids left free, with its group;
// the images only a replaced group named go with it.
bool MergeIcon(const Bytes& icon, uint32_t language, std::vector<Resource>& resources, std::string& problem)
{
    std::vector<IconImage> images;
    if (!ReadIcon(icon, images, problem))
        return false;
    Resource group{Numbered(TypeGroupIcon), Numbered(ProgramIconId), language, 0, {}};
    std::set<uint32_t> replaced;
    for (const Resource& resource : resources)
        if (SameResource(resource, group))
            for (uint32_t id : GroupIds(resource.data))
                replaced.insert(id);
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                        [&](const Resource& r) { return SameResource(r, group); }),
        resources.end());
    for (const Resource& resource : resources)
        if (Same(resource.type, group.type))
            for (uint32_t id : GroupIds(resource.data))
                replaced.erase(id);
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                        [&](const Resource& r) {
                            return Same(r.type, Numbered(TypeIcon)) && !r.name.named && r.language == language
                                && replaced.count(r.name.id);
                        }),
        resources.end());
    std::set<uint32_t> used;
    for (const Resource& resource : resources)
        if (Same(resource.type, Numbered(TypeIcon)) && !resource.name.named)
            used.insert(resource.name.id);
    Append(group.data, 2, 0);
    Append(group.data, 2, 1);
    Append(group.data, 2, images.size());
    uint32_t id = 1;
    for (const IconImage& image : images) {
        while (used.count(id))
            ++id;
        if (id > 0xFFFF) {
            problem = "the program has no RT_ICON id left for the icon's images";
            return false;
        }
        used.insert(id);
        group.data.insert(group.data.end(), image.entry.begin(), image.entry.end());
        Append(group.data, 2, id);
        resources.push_back(Resource{Numbered(TypeIcon), Numbered(id), language, 0, image.data});
    }
    resources.push_back(group);
    return true;
}

void Replace(std::vector<Resource>& resources, Resource added)
{
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                        [&](const Resource& r) { return SameResource(r, added); }),
        resources.end());
    resources.push_back(std::move(added));
}

// Directories breadth first (types, names, languages), then the data
// entries, the names' texts and the data, each datum 8-byte aligned.
Bytes ResourceSection(std::vector<Resource> resources, uint32_t virtualAddress)
{
    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        if (!Same(a.type, b.type))
            return Before(a.type, b.type);
        if (!Same(a.name, b.name))
            return Before(a.name, b.name);
        return a.language < b.language;
    });
    // Runs of one type, and within them of one name.
    std::vector<size_t> typeStarts, nameStarts;
    for (size_t k = 0; k < resources.size(); ++k) {
        bool newType = k == 0 || !Same(resources[k].type, resources[k - 1].type);
        if (newType)
            typeStarts.push_back(k);
        if (newType || !Same(resources[k].name, resources[k - 1].name))
            nameStarts.push_back(k);
    }
    typeStarts.push_back(resources.size());
    nameStarts.push_back(resources.size());
    uint64_t typesSize = ResourceDirectorySize + (typeStarts.size() - 1) * ResourceEntrySize;
    uint64_t namesSize = (typeStarts.size() - 1) * ResourceDirectorySize + (nameStarts.size() - 1) * ResourceEntrySize;
    uint64_t languagesSize = (nameStarts.size() - 1) * ResourceDirectorySize + resources.size() * ResourceEntrySize;
    uint64_t entriesAt = typesSize + namesSize + languagesSize;
    uint64_t textsAt = entriesAt + resources.size() * ResourceDataEntrySize;
    Bytes out(textsAt);
    Bytes texts;
    auto nameField = [&](const ResourceName& name) -> uint64_t {
        if (!name.named)
            return name.id;
        uint64_t at = textsAt + texts.size();
        Append(texts, 2, name.text.size());
        for (char16_t unit : name.text)
            Append(texts, 2, unit);
        return at | SubdirectoryBit;
    };
    auto directory = [&](uint64_t at, size_t named, size_t numbered) {
        Put(out, at + 12, 2, named);
        Put(out, at + 14, 2, numbered);
    };
    auto count = [&](const std::vector<size_t>& starts, size_t from, size_t to, bool byType, size_t& named) {
        named = 0;
        size_t runs = 0;
        for (size_t k = 0; k + 1 < starts.size(); ++k)
            if (starts[k] >= from && starts[k] < to) {
                ++runs;
                named += (byType ? resources[starts[k]].type : resources[starts[k]].name).named;
            }
        return runs;
    };
    size_t named = 0;
    size_t types = count(typeStarts, 0, resources.size(), true, named);
    directory(0, named, types - named);
    uint64_t nameDirectory = typesSize, languageDirectory = typesSize + namesSize;
    size_t nameRun = 0, resourceIndex = 0;
    for (size_t t = 0; t < types; ++t) {
        Put(out, ResourceDirectorySize + t * ResourceEntrySize, 4, nameField(resources[typeStarts[t]].type));
        Put(out, ResourceDirectorySize + t * ResourceEntrySize + 4, 4, nameDirectory | SubdirectoryBit);
        size_t names = count(nameStarts, typeStarts[t], typeStarts[t + 1], false, named);
        directory(nameDirectory, named, names - named);
        for (size_t n = 0; n < names; ++n, ++nameRun) {
            uint64_t entry = nameDirectory + ResourceDirectorySize + n * ResourceEntrySize;
            Put(out, entry, 4, nameField(resources[nameStarts[nameRun]].name));
            Put(out, entry + 4, 4, languageDirectory | SubdirectoryBit);
            size_t languages = nameStarts[nameRun + 1] - nameStarts[nameRun];
            directory(languageDirectory, 0, languages);
            for (size_t l = 0; l < languages; ++l, ++resourceIndex) {
                uint64_t item = languageDirectory + ResourceDirectorySize + l * ResourceEntrySize;
                Put(out, item, 4, resources[resourceIndex].language);
                Put(out, item + 4, 4, entriesAt + resourceIndex * ResourceDataEntrySize);
            }
            languageDirectory += ResourceDirectorySize + languages * ResourceEntrySize;
        }
        nameDirectory += ResourceDirectorySize + names * ResourceEntrySize;
    }
    out.insert(out.end(), texts.begin(), texts.end());
    for (size_t k = 0; k < resources.size(); ++k) {
        out.resize(AlignUp(out.size(), ResourceDataAlignment));
        uint64_t entry = entriesAt + k * ResourceDataEntrySize;
        Put(out, entry, 4, virtualAddress + out.size());
        Put(out, entry + 4, 4, resources[k].data.size());
        Put(out, entry + 8, 4, resources[k].codePage);
        out.insert(out.end(), resources[k].data.begin(), resources[k].data.end());
    }
    return out;
}

bool MergeAdditions(const ProgramAdditions& additions, std::vector<Resource>& resources, std::string& problem)
{
    uint32_t language = resources.empty() ? DefaultResourceLanguage : resources.front().language;
    Bytes version;
    if (!VersionResource(additions.version, version, problem))
        return false;
    if (!additions.icon.empty() && !MergeIcon(additions.icon, language, resources, problem))
        return false;
    if (!additions.manifest.empty())
        Replace(resources, Resource{Numbered(TypeManifest), Numbered(ManifestId), language, 0,
                               Bytes(additions.manifest.begin(), additions.manifest.end())});
    if (!version.empty())
        Replace(resources, Resource{Numbered(TypeVersion), Numbered(VersionId), language, 0, version});
    return true;
}

bool CheckSectionName(const ProgramAdditions& additions, const Image& image, std::string& problem)
{
    if (additions.section.empty())
        return true;
    if (additions.sectionName[0] == '\0') {
        problem = "the added section has no name";
        return false;
    }
    for (const Section& section : image.sections)
        if (std::memcmp(section.name, additions.sectionName, sizeof section.name) == 0) {
            problem = "the program already has a section of the added section's name";
            return false;
        }
    uint64_t tableEnd = image.sectionTable + (image.sections.size() + 1) * SectionHeaderSize;
    uint64_t firstData = image.headersSize;
    for (const Section& section : image.sections)
        if (section.rawSize != 0)
            firstData = std::min<uint64_t>(firstData, section.rawPointer);
    if (tableEnd > firstData || image.sections.size() + 1 > MaxSections) {
        problem = "the program's headers have no room for one more section";
        return false;
    }
    return true;
}

void PutSectionHeader(Bytes& out, uint64_t header, uint32_t virtualSize, uint64_t virtualAddress, uint64_t rawSize,
    uint64_t rawPointer)
{
    Put(out, header + 8, 4, virtualSize);
    Put(out, header + 12, 4, virtualAddress);
    Put(out, header + 16, 4, rawSize);
    Put(out, header + 20, 4, rawPointer);
}

} // namespace

uint32_t ImageChecksum(const std::vector<unsigned char>& image)
{
    uint32_t pe = 0, signature = 0;
    uint64_t field = image.size();
    if (Get(image, 0x3C, 4, pe) && Get(image, pe, 4, signature) && signature == 0x00004550
        && pe + OptionalHeaderAt + ChecksumAt + 4 <= image.size())
        field = pe + OptionalHeaderAt + ChecksumAt;
    uint64_t sum = 0;
    for (uint64_t at = 0; at < image.size(); at += 2) {
        if (at == field || at == field + 2)
            continue;
        uint32_t word = image[at] | (at + 1 < image.size() ? uint32_t(image[at + 1]) << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + image.size());
}

bool WriteProgram(const std::vector<unsigned char>& prebuilt, const ProgramAdditions& additions,
    std::vector<unsigned char>& out, std::string& problem)
{
    out.clear();
    Image image;
    std::vector<Resource> resources;
    if (!ReadImage(prebuilt, image, problem) || !CheckNothingAfterResources(prebuilt, image, problem)
        || !CheckSectionName(additions, image, problem)
        || !ReadResources(prebuilt, image.sections[image.resources], resources, problem)
        || !MergeAdditions(additions, resources, problem))
        return false;
    const Section resourceSection = image.sections[image.resources];
    Bytes tree = ResourceSection(resources, resourceSection.virtualAddress);
    uint64_t fileAlignment = image.fileAlignment, sectionAlignment = image.sectionAlignment;
    uint64_t treeRaw = AlignUp(tree.size(), fileAlignment);
    uint64_t addedRaw = AlignUp(additions.section.size(), fileAlignment);
    uint64_t addedAddress = AlignUp(resourceSection.virtualAddress + tree.size(), sectionAlignment);
    uint64_t addedPointer = resourceSection.rawPointer + treeRaw;
    uint64_t relocationAddress = AlignUp(addedAddress + additions.section.size(), sectionAlignment);
    uint64_t relocationPointer = addedPointer + addedRaw;
    const Section* relocations = image.hasRelocations ? &image.sections.back() : nullptr;
    uint64_t imageEnd = relocations ? relocationAddress + std::max(relocations->virtualSize, relocations->rawSize)
                                    : additions.section.empty() ? resourceSection.virtualAddress + tree.size()
                                                                : addedAddress + additions.section.size();
    uint64_t fileEnd = relocationPointer + (relocations ? relocations->rawSize : 0);
    uint32_t initialized = 0;
    Get(prebuilt, image.optional + InitializedDataAt, 4, initialized);
    // Counted in whole file alignments, as the .rsrc ld writes is not.
    uint64_t oldTreeRaw = AlignUp(resourceSection.rawSize, fileAlignment);
    uint64_t newInitialized = uint64_t(initialized) + treeRaw + addedRaw;
    if (AlignUp(imageEnd, sectionAlignment) > LargestImage || fileEnd > LargestImage
        || newInitialized < oldTreeRaw || newInitialized - oldTreeRaw > LargestImage) {
        problem = "the written program would be larger than a program may be";
        return false;
    }
    out.assign(prebuilt.begin(), prebuilt.begin() + std::ptrdiff_t(resourceSection.rawPointer));
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize(addedPointer);
    out.insert(out.end(), additions.section.begin(), additions.section.end());
    out.resize(relocationPointer);
    size_t sectionCount = image.sections.size();
    PutSectionHeader(out, resourceSection.header, uint32_t(tree.size()), resourceSection.virtualAddress, treeRaw,
        resourceSection.rawPointer);
    uint64_t nextHeader = resourceSection.header + SectionHeaderSize;
    if (!additions.section.empty()) {
        std::fill(out.begin() + std::ptrdiff_t(nextHeader), out.begin() + std::ptrdiff_t(nextHeader + SectionHeaderSize), 0);
        std::memcpy(&out[nextHeader], additions.sectionName, sizeof additions.sectionName);
        PutSectionHeader(out, nextHeader, uint32_t(additions.section.size()), addedAddress, addedRaw, addedPointer);
        Put(out, nextHeader + 36, 4, AddedSectionFlags);
        nextHeader += SectionHeaderSize;
        ++sectionCount;
    }
    uint64_t directory = image.directories + ResourceDirectory * 8ull;
    Put(out, directory, 4, resourceSection.virtualAddress);
    Put(out, directory + 4, 4, tree.size());
    if (relocations) {
        out.insert(out.end(), prebuilt.begin() + std::ptrdiff_t(relocations->rawPointer),
            prebuilt.begin() + std::ptrdiff_t(relocations->rawPointer + relocations->rawSize));
        std::copy_n(prebuilt.begin() + std::ptrdiff_t(relocations->header), SectionHeaderSize,
            out.begin() + std::ptrdiff_t(nextHeader));
        PutSectionHeader(out, nextHeader, relocations->virtualSize, relocationAddress, relocations->rawSize,
            relocationPointer);
        Put(out, image.directories + RelocationDirectory * 8ull, 4, relocationAddress);
    }
    uint32_t pe = 0;
    Get(prebuilt, 0x3C, 4, pe);
    Put(out, pe + 6, 2, sectionCount);
    Put(out, image.optional + InitializedDataAt, 4, newInitialized - oldTreeRaw);
    Put(out, image.optional + ImageSizeAt, 4, AlignUp(imageEnd, sectionAlignment));
    Put(out, image.optional + ChecksumAt, 4, ImageChecksum(out));
    return true;
}
