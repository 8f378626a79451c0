#include "product_data.h"
#include "product_section.h"
#include "language.h"
#include "product.h"
#include <stdlib.h>
#include <string.h>

ProductConfigRecord ProductConfig;
const char* AgreementText = "";
ProductDetailsRecord ProductDetails;
uint32_t ProductCodePage;
const LanguageRecord* ProductLanguages;
int32_t ProductLanguageCount;
LanguageCode ProductLanguageCode;
UninstallTables UninstallPayload;

namespace {

// The archive's record in a page of its own, made read-only with the tables
// of pointers it names once they are filled: nothing the run does afterwards
// changes what the extraction reads.
struct alignas(4096) ArchivePage {
    PayloadArchiveTables tables;
    SolidBlocks blocks;
};
ArchivePage Archive;

// The section in use, as the program's headers place it.
const unsigned char* Section;
uint32_t SectionSize;
const ProductSectionHeader* Header;

// The section of that name, through the headers of the image at module.
bool FindSection(HMODULE module)
{
    const unsigned char* image = reinterpret_cast<const unsigned char*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (!image || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    for (WORD k = 0; k < nt->FileHeader.NumberOfSections; ++k) {
        const IMAGE_SECTION_HEADER& section = sections[k];
        if (memcmp(section.Name, ProductSectionName, sizeof ProductSectionName) != 0)
            continue;
        // What the loader mapped of it: its raw data, the rest of its size zeros.
        DWORD size = section.Misc.VirtualSize;
        if (section.VirtualAddress == 0 || size < sizeof(ProductSectionHeader)
            || size > nt->OptionalHeader.SizeOfImage - section.VirtualAddress
            || section.VirtualAddress > nt->OptionalHeader.SizeOfImage)
            return false;
        Section = image + section.VirtualAddress;
        Header = reinterpret_cast<const ProductSectionHeader*>(Section);
        if (memcmp(Header->tag, ProductSectionTag, sizeof ProductSectionTag) != 0 || Header->size > size
            || Header->size < sizeof(ProductSectionHeader))
            return false;
        SectionSize = Header->size;
        return true;
    }
    return false;
}

// A text of the section; null for offset 0, or where it does not end inside it.
bool Text(uint32_t offset, const char** text, bool optional = false)
{
    if (offset == 0) {
        *text = optional ? nullptr : "";
        return true;
    }
    if (offset < sizeof(ProductSectionHeader) || offset >= SectionSize
        || !memchr(Section + offset, '\0', SectionSize - offset))
        return false;
    *text = reinterpret_cast<const char*>(Section + offset);
    return true;
}

// An array of count entries of entrySize bytes inside the section, aligned to
// them; wanted, when not negative, is the count it must have.
bool Array(const SectionArray& array, uint32_t entrySize, const void** entries, int64_t wanted = -1)
{
    if (wanted >= 0 && array.count != wanted)
        return false;
    if (array.count == 0) {
        *entries = Section;
        return true;
    }
    uint32_t alignment = entrySize < ProductSectionAlignment ? entrySize : ProductSectionAlignment;
    if (array.offset < sizeof(ProductSectionHeader) || array.offset > SectionSize || array.offset % alignment != 0
        || array.count > (SectionSize - array.offset) / entrySize || array.count > INT32_MAX / 2)
        return false;
    *entries = Section + array.offset;
    return true;
}

template <typename Entry> bool ArrayOf(const SectionArray& array, const Entry** entries, int64_t wanted = -1)
{
    const void* found;
    if (!Array(array, sizeof(Entry), &found, wanted))
        return false;
    *entries = static_cast<const Entry*>(found);
    return true;
}

void* TakeTable(size_t count, size_t entrySize);

// The texts an array of offsets names, as a table of their own (in the
// archive's pages, where the archive names them).
bool Texts(const SectionArray& array, const char* const** texts, int64_t wanted = -1, bool archive = false)
{
    const uint32_t* offsets;
    if (!ArrayOf(array, &offsets, wanted))
        return false;
    size_t count = size_t(array.count) + 1;
    const char** table = static_cast<const char**>(archive ? TakeTable(count, sizeof(char*)) : calloc(count, sizeof(char*)));
    if (!table)
        return false;
    for (uint32_t i = 0; i < array.count; ++i)
        if (!Text(offsets[i], &table[i]))
            return false; // what was taken goes with the process, which ends
    table[array.count] = nullptr;
    *texts = table;
    return true;
}

bool ReadConfig()
{
    const ProductSectionHeader& h = *Header;
    ProductConfigRecord& c = ProductConfig;
    c.offerStartupGroup = h.offerStartupGroup;
    c.warnOfRunningCopies = h.warnOfRunningCopies;
    c.startupMinimized = h.startupMinimized;
    c.useAgentService = h.useAgentService;
    c.requiredMegabytes = h.requiredMegabytes;
    ProductCodePage = h.codePage;
    ProductDetails.estimatedSizeKilobytes = h.estimatedSizeKilobytes;
    ProductDetails.sixtyFourBit = h.sixtyFourBit;
    ProductDetails.installFor = h.installFor;
    return Text(h.folderName, &c.folderName) && Text(h.displayName, &c.displayName)
        && Text(h.profileFile, &c.profileFile) && Text(h.startupPrompt, &c.startupPrompt)
        && Text(h.mainExecutable, &c.mainExecutable) && Text(h.startupArguments, &c.startupArguments)
        && Text(h.serviceExecutable, &c.serviceExecutable) && Text(h.servicePrompt, &c.servicePrompt)
        && Text(h.agreement, &AgreementText) && Text(h.publisher, &ProductDetails.publisher)
        && Text(h.version, &ProductDetails.version)
        && (h.installFor == InstallForMachine || h.installFor == InstallForUser || h.installFor == InstallForAsk);
}

bool ReadLanguages(const LanguageCode* spoken)
{
    const SectionLanguage* entries;
    if (!ArrayOf(Header->languages, &entries) || Header->languages.count == 0)
        return false;
    int32_t count = int32_t(Header->languages.count);
    LanguageRecord* languages = static_cast<LanguageRecord*>(calloc(size_t(count), sizeof(LanguageRecord)));
    if (!languages)
        return false;
    bool mirrored = false;
    for (int32_t i = 0; i < count; ++i) {
        const SectionLanguage& entry = entries[i];
        LanguageRecord& language = languages[i];
        language.windowsLanguage = entry.windowsLanguage;
        language.rightToLeft = entry.rightToLeft;
        language.count = int32_t(entry.keys.count);
        mirrored = mirrored || entry.rightToLeft;
        if (!Text(entry.name, &language.name) || !ArrayOf(entry.keys, &language.keys)
            || !Texts(entry.texts, &language.texts, entry.keys.count)
            || !Text(entry.displayName, &language.displayName, true)
            || !Text(entry.startupPrompt, &language.startupPrompt, true)
            || !Text(entry.servicePrompt, &language.servicePrompt, true)
            || !Text(entry.agreement, &language.agreement, true))
            return false; // what was taken goes with the process, which ends
    }
    ProductLanguages = languages;
    ProductLanguageCount = count;
    // A product of English alone speaks it without the code of the others,
    // which a program built for English alone does not carry.
    bool multilingual = count > 1 || strcmp(languages[0].name, "en") != 0;
    if (multilingual && !spoken)
        return false;
    if (multilingual) {
        ProductLanguageCode = *spoken;
        if (!mirrored)
            ProductLanguageCode.mirroredTemplate = nullptr;
    }
    return true;
}

bool ReadProduct(HMODULE module, uint32_t program, const LanguageCode* spoken)
{
    return FindSection(module) && Header->program == program && ReadConfig() && ReadLanguages(spoken);
}

// Each file's run of the slices' lengths, from the one table of them all.
bool SliceRuns(const int32_t* sliceCounts, int32_t fileCount, const uint32_t* lengths, uint32_t lengthCount,
    bool solid, const uint32_t* const** runs)
{
    const uint32_t** table = static_cast<const uint32_t**>(TakeTable(size_t(fileCount) + 1, sizeof(uint32_t*)));
    if (!table)
        return false;
    uint32_t first = 0;
    for (int32_t f = 0; f < fileCount; ++f) {
        if (sliceCounts[f] < 0 || (!solid && uint32_t(sliceCounts[f]) > lengthCount - first))
            return false;
        table[f] = solid || sliceCounts[f] == 0 ? nullptr : lengths + first;
        if (!solid)
            first += uint32_t(sliceCounts[f]);
    }
    *runs = table;
    return solid || first == lengthCount;
}

// Where the archive's tables of pointers go: pages taken for them alone,
// enough for a pointer for each four bytes of the section.
unsigned char* Tables;
size_t TablesSize;
size_t TablesUsed;

void* TakeTable(size_t count, size_t entrySize)
{
    if (!Tables) {
        TablesSize = (size_t(SectionSize) / 4 + 16) * sizeof(void*);
        Tables = static_cast<unsigned char*>(VirtualAlloc(nullptr, TablesSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!Tables)
            return nullptr;
    }
    size_t bytes = (count * entrySize + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*);
    if (bytes > TablesSize - TablesUsed)
        return nullptr;
    void* table = Tables + TablesUsed;
    TablesUsed += bytes;
    return table;
}

bool ProtectArchive()
{
    DWORD old;
    return VirtualProtect(&Archive, sizeof Archive, PAGE_READONLY, &old)
        && (!Tables || VirtualProtect(Tables, TablesSize, PAGE_READONLY, &old));
}

} // namespace

const PayloadArchiveTables& PayloadArchive = Archive.tables;

bool ReadSetupSection(HMODULE module, const PayloadUnpacker& unpacker, bool solid, const LanguageCode* spoken)
{
    if (!ReadProduct(module, SectionOfSetup, spoken) || Header->payloadKind != (solid ? PayloadSolid : PayloadOfSlices))
        return false;
    const ProductSectionHeader& h = *Header;
    PayloadArchiveTables& a = Archive.tables;
    uint32_t files = h.fileNames.count;
    const uint32_t* lengths;
    const uint64_t* partSizes;
    const unsigned char(*partDigests)[32];
    const unsigned char(*spanDigests)[32];
    if (!Texts(h.fileNames, &a.fileNames, -1, true) || !ArrayOf(h.sliceCounts, &a.sliceCounts, files)
        || !ArrayOf(h.fileTimes, &a.fileTimes, files) || !ArrayOf(h.sliceLengths, &lengths)
        || !ArrayOf(h.partSizes, &partSizes) || h.partSizes.count == 0
        || !ArrayOf(h.partDigests, &partDigests, h.partSizes.count) || !ArrayOf(h.spanDigests, &spanDigests)
        || !Text(h.companionName, &a.parts.companionName))
        return false;
    a.fileCount = int32_t(files);
    a.unpacker = &unpacker;
    a.parts = {int32_t(h.partSizes.count), partSizes, partDigests, a.parts.companionName};
    a.spans = {int32_t(h.spanDigests.count), spanDigests};
    if (!solid) {
        a.solid = nullptr;
        return ArrayOf(h.fileOffsets, &a.fileOffsets, files)
            && SliceRuns(a.sliceCounts, a.fileCount, lengths, h.sliceLengths.count, false, &a.sliceLengths)
            && ProtectArchive();
    }
    SolidBlocks& blocks = Archive.blocks;
    uint32_t blockCount = h.blockOffsets.count;
    a.fileOffsets = nullptr;
    a.solid = &blocks;
    blocks.blockCount = int32_t(blockCount);
    return ArrayOf(h.blockOffsets, &blocks.blockOffsets) && ArrayOf(h.blockLengths, &blocks.blockLengths, blockCount)
        && ArrayOf(h.blockSizes, &blocks.blockSizes, blockCount)
        && ArrayOf(h.lastSliceSizes, &blocks.lastSliceSizes, files)
        && SliceRuns(a.sliceCounts, a.fileCount, lengths, 0, true, &a.sliceLengths) && ProtectArchive();
}

bool ReadUninstallerSection(HMODULE module, const LanguageCode* spoken)
{
    if (!ReadProduct(module, SectionOfUninstaller, spoken))
        return false;
    UninstallPayload.fileCount = int32_t(Header->removedFiles.count);
    UninstallPayload.folderCount = int32_t(Header->removedFolders.count);
    return Texts(Header->removedFiles, &UninstallPayload.fileNames)
        && Texts(Header->removedFolders, &UninstallPayload.folderNames);
}
