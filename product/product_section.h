// The product as the packer writes it into a prebuilt program, and as the
// program reads it in place: one section of the program's image, named
// ProductSectionName, which begins with a ProductSectionHeader. Everything
// else in it is reached through offsets from the section's start: a text is
// NUL-terminated UTF-8 (offset 0: none), an array a run of count entries,
// each array aligned to its entries' size. Only fixed-width numbers, so that
// the packer, a 64-bit tool of the build machine, writes the one layout both
// programs of either width read. Plain C++, shared with the packer.
#pragma once
#include <stdint.h>

constexpr char ProductSectionName[8] = {'.', 'p', 'm', 'p', 'r', 'o', 'd', '\0'};
constexpr char ProductSectionTag[8] = {'P', 'M', 'P', 'R', 'O', 'D', '1', '\0'};
constexpr uint32_t ProductSectionAlignment = 8;

// Which program a section is for.
constexpr uint32_t SectionOfSetup = 1;
constexpr uint32_t SectionOfUninstaller = 2;

// How the payload's content is stored: each slice a zlib stream, or the
// slices in the blocks of one xz stream.
constexpr uint32_t PayloadOfSlices = 0;
constexpr uint32_t PayloadSolid = 1;

struct SectionArray {
    uint32_t offset;
    uint32_t count;
};

struct SectionLanguage {
    uint32_t name; // text
    uint16_t windowsLanguage;
    uint16_t rightToLeft;
    SectionArray keys;  // uint32_t, ascending
    SectionArray texts; // uint32_t: a text for each key
    uint32_t displayName, startupPrompt, servicePrompt, agreement; // texts; 0: the default
};

struct ProductSectionHeader {
    char tag[8]; // ProductSectionTag
    uint32_t program;
    uint32_t size; // the bytes of the section the packer wrote, this header's included
    // The configuration record, in its order: texts and numbers.
    uint32_t folderName, displayName, profileFile;
    int32_t offerStartupGroup;
    uint32_t startupPrompt, mainExecutable, startupArguments;
    int32_t warnOfRunningCopies, startupMinimized, useAgentService;
    uint32_t serviceExecutable, servicePrompt;
    int32_t requiredMegabytes;
    uint32_t agreement; // text
    uint32_t codePage;
    // The product's details.
    uint32_t publisher, version;
    uint32_t estimatedSizeKilobytes;
    int32_t sixtyFourBit, installFor;
    SectionArray languages; // SectionLanguage, the default first
    // The setup's archive.
    uint32_t payloadKind;
    SectionArray fileNames;    // uint32_t: texts, in installation order
    SectionArray sliceCounts;  // int32_t, a file's each
    SectionArray fileOffsets;  // uint64_t, a file's each (slices only)
    SectionArray sliceLengths; // uint32_t, every slice's, file after file (slices only)
    SectionArray fileTimes;    // int32_t, a file's each
    SectionArray blockOffsets; // uint64_t (solid only, as the next three)
    SectionArray blockLengths; // uint32_t
    SectionArray blockSizes;   // uint32_t
    SectionArray lastSliceSizes; // uint32_t, a file's each
    SectionArray partSizes;    // uint64_t
    SectionArray partDigests;  // 32 bytes each
    uint32_t companionName;    // text
    SectionArray spanDigests;  // 32 bytes each
    // The uninstaller's names below the installation folder.
    SectionArray removedFiles;   // uint32_t: texts
    SectionArray removedFolders; // uint32_t: texts, innermost first
};
static_assert(sizeof(SectionArray) == 8 && sizeof(SectionLanguage) == 40, "the section's layout is fixed");
static_assert(sizeof(ProductSectionHeader) == 224, "the section's layout is fixed");
