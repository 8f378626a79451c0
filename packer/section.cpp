#include "section.h"
#include "product_section.h"
#include "product_record.h"
#include "text.h"
#include "names.h"
#include <algorithm>
#include <cstring>
#include <set>

namespace {

// The section as it grows: its header first, then texts and arrays, each
// array aligned to its entries' size.
class SectionWriter {
public:
    SectionWriter() : bytes(sizeof(ProductSectionHeader), 0) {}
    uint32_t Text(const std::string& text)
    {
        uint32_t at = uint32_t(bytes.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return at;
    }
    // A text that may be absent: offset 0.
    uint32_t OptionalText(const std::string* text) { return text ? Text(*text) : 0; }
    template <typename Entry> SectionArray Array(const std::vector<Entry>& entries)
    {
        Align(sizeof(Entry) < ProductSectionAlignment ? sizeof(Entry) : ProductSectionAlignment);
        SectionArray array = {uint32_t(bytes.size()), uint32_t(entries.size())};
        const unsigned char* from = reinterpret_cast<const unsigned char*>(entries.data());
        bytes.insert(bytes.end(), from, from + entries.size() * sizeof(Entry));
        return array;
    }
    SectionArray Texts(const std::vector<std::string>& texts)
    {
        std::vector<uint32_t> offsets;
        for (const std::string& text : texts)
            offsets.push_back(Text(text));
        return Array(offsets);
    }
    std::vector<unsigned char> Finish(ProductSectionHeader header)
    {
        Align(ProductSectionAlignment);
        std::memcpy(header.tag, ProductSectionTag, sizeof header.tag);
        header.size = uint32_t(bytes.size());
        std::memcpy(bytes.data(), &header, sizeof header);
        return bytes;
    }

private:
    void Align(size_t alignment) { bytes.resize((bytes.size() + alignment - 1) / alignment * alignment, 0); }
    std::vector<unsigned char> bytes;
};

int32_t Number(const Manifest& manifest, const char* field)
{
    return int32_t(std::strtol(manifest.Field(field).c_str(), nullptr, 10));
}

// The configuration record; a field outside `kept` is left empty (or 0) for a
// program that does not read it. Then the product's details.
void WriteConfig(SectionWriter& out, ProductSectionHeader& h, const Manifest& manifest, uint64_t kilobytes,
    const std::set<std::string>& kept = {})
{
    auto used = [&](const char* field) { return kept.empty() || kept.count(field) != 0; };
    auto text = [&](const char* field) { return used(field) ? out.Text(manifest.Field(field)) : out.Text(""); };
    auto number = [&](const char* field) { return used(field) ? Number(manifest, field) : 0; };
    h.folderName = text("folderName");
    h.displayName = text("displayName");
    h.profileFile = text("profileFile");
    h.offerStartupGroup = number("offerStartupGroup");
    h.startupPrompt = text("startupPrompt");
    h.mainExecutable = text("mainExecutable");
    h.startupArguments = text("startupArguments");
    h.warnOfRunningCopies = number("warnOfRunningCopies");
    h.startupMinimized = number("startupMinimized");
    h.useAgentService = number("useAgentService");
    h.serviceExecutable = text("serviceExecutable");
    h.servicePrompt = text("servicePrompt");
    h.requiredMegabytes = number("requiredMegabytes");
    h.codePage = uint32_t(manifest.codePage);
    h.publisher = out.Text(manifest.Field("publisher"));
    h.version = out.Text(manifest.Field("version"));
    h.estimatedSizeKilobytes = uint32_t(kilobytes);
    h.sixtyFourBit = manifest.Field("architecture") == "x64";
    const std::string installFor = manifest.Field("installFor");
    h.installFor = installFor == "user" ? InstallForUser : installFor == "ask" ? InstallForAsk : InstallForMachine;
}

// The product's languages, in the manifest's order, with their translations
// ordered by key, and the product's own texts in each where the manifest
// gives them (its prompts and agreement only for the setup). English needs
// no translations: the programs' texts are English.
SectionArray WriteLanguages(SectionWriter& out, const Manifest& manifest, const LanguageTexts& translations,
    bool forSetup)
{
    std::vector<SectionLanguage> languages;
    for (const std::string& name : manifest.languages) {
        const LanguageInfo* info = FindLanguage(name);
        SectionLanguage language = {};
        language.name = out.Text(name);
        language.windowsLanguage = info->windowsLanguage;
        language.rightToLeft = info->rightToLeft;
        if (name != "en") {
            std::vector<std::pair<uint32_t, std::string>> sorted;
            for (const auto& message : translations.at(name))
                sorted.push_back({TextKey(message.first.c_str()), message.second});
            std::sort(sorted.begin(), sorted.end());
            std::vector<uint32_t> keys;
            std::vector<std::string> texts;
            for (const auto& entry : sorted) {
                keys.push_back(entry.first);
                texts.push_back(entry.second);
            }
            language.keys = out.Array(keys);
            language.texts = out.Texts(texts);
        }
        auto given = [&](const char* field) -> const std::string* {
            auto texts = manifest.localized.find(field);
            if (texts == manifest.localized.end() || !texts->second.count(name))
                return nullptr;
            return &texts->second.at(name);
        };
        language.displayName = out.OptionalText(given("displayName"));
        if (forSetup) {
            language.startupPrompt = out.OptionalText(given("startupPrompt"));
            language.servicePrompt = out.OptionalText(given("servicePrompt"));
            language.agreement = out.OptionalText(given("agreement"));
        }
        languages.push_back(language);
    }
    return out.Array(languages);
}


} // namespace

std::vector<unsigned char> SetupSection(const Manifest& manifest, const LanguageTexts& translations,
    const PackedPayload& packed, const PayloadPartsWritten& parts)
{
    SectionWriter out;
    ProductSectionHeader h = {};
    h.program = SectionOfSetup;
    WriteConfig(out, h, manifest, (packed.bytes + 1023) / 1024);
    h.agreement = out.Text(manifest.agreementText);
    h.languages = WriteLanguages(out, manifest, translations, true);
    h.payloadKind = packed.solid ? PayloadSolid : PayloadOfSlices;
    std::vector<std::string> names;
    std::vector<int32_t> times;
    std::vector<uint64_t> fileOffsets;
    size_t slice = 0;
    for (size_t f = 0; f < manifest.files.size(); ++f) {
        names.push_back(manifest.files[f].name);
        times.push_back(int32_t(manifest.files[f].time));
        // A file's slices follow one another: where its first begins is enough.
        fileOffsets.push_back(packed.sliceCounts[f] && !packed.solid ? packed.offsets[slice] : 0);
        slice += size_t(packed.sliceCounts[f]);
    }
    h.fileNames = out.Texts(names);
    h.sliceCounts = out.Array(packed.sliceCounts);
    h.fileTimes = out.Array(times);
    if (packed.solid) {
        h.blockOffsets = out.Array(packed.blockOffsets);
        h.blockLengths = out.Array(packed.blockLengths);
        h.blockSizes = out.Array(packed.blockSizes);
        h.lastSliceSizes = out.Array(packed.lastSliceSizes);
    } else {
        h.fileOffsets = out.Array(fileOffsets);
        h.sliceLengths = out.Array(packed.lengths);
    }
    h.partSizes = out.Array(parts.sizes);
    h.partDigests = out.Array(parts.digests);
    h.companionName = out.Text(manifest.companionName);
    h.spanDigests = out.Array(parts.spanDigests);
    return out.Finish(h);
}

// What the uninstaller removes: the payload's names below the installation
// folder, in installation order and with backslashes, and the folders they
// need, innermost first; and the configuration fields it reads.
std::vector<unsigned char> UninstallerSection(const Manifest& manifest, const LanguageTexts& translations)
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
    SectionWriter out;
    ProductSectionHeader h = {};
    h.program = SectionOfUninstaller;
    // The version names the product in the log; the uninstaller writes no entry, so no size.
    WriteConfig(out, h, manifest, 0,
        {"folderName", "displayName", "profileFile", "offerStartupGroup", "mainExecutable", "serviceExecutable",
            "warnOfRunningCopies", "useAgentService"});
    h.languages = WriteLanguages(out, manifest, translations, false);
    h.removedFiles = out.Texts(files);
    h.removedFolders = out.Texts(folders);
    return out.Finish(h);
}
