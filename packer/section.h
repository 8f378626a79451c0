// The product section (product_section.h) the packer writes into each
// program: the setup's, with its archive, and the uninstaller's, with the
// names it removes.
#pragma once
#include "languages.h"
#include "manifest.h"
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

// The parts the payload lies in: each one's size and SHA-256, and each span's.
struct PayloadPartsWritten {
    std::vector<uint64_t> sizes;
    std::vector<std::array<unsigned char, 32>> digests;
    std::vector<std::array<unsigned char, 32>> spanDigests;
};

using LanguageTexts = std::map<std::string, Translations>;

std::vector<unsigned char> SetupSection(const Manifest& manifest, const LanguageTexts& translations,
    const PackedPayload& packed, const PayloadPartsWritten& parts);
std::vector<unsigned char> UninstallerSection(const Manifest& manifest, const LanguageTexts& translations);
