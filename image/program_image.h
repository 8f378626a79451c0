// The writing of a product into a prebuilt program: the setup program and the
// uninstaller are linked once, with no product in them, and packaging writes
// each product's icon, manifest, version and data section into a copy of them
// with no compiler. Host C++ for the build machine; every field of the
// prebuilt is checked before it is used, since publishers give the input.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// UTF-8 texts; an empty one is not written. The fixed part's numbers come
// from fileVersion and productVersion when each is 1 to 4 dot-separated
// numbers of 0 to 65535 (missing ones are 0), else they are 0.
struct VersionFields {
    std::string productName, companyName, productVersion, fileVersion, fileDescription, legalCopyright,
        internalName, originalFilename;
};

struct ProgramAdditions {
    // A .ico file's bytes, written whole as RT_ICON images and RT_GROUP_ICON ProgramIconId; empty: none.
    std::vector<unsigned char> icon;
    // RT_MANIFEST 1 (UTF-8 XML); empty: none.
    std::string manifest;
    // RT_VERSION 1 (StringFileInfo 040904B0, Translation 0x0409 1200); all empty: none.
    VersionFields version;
    // The section added with these bytes, initialised read-only data; the
    // name is NUL-padded (".pmprod"). Empty bytes: no section.
    char sectionName[8] = {};
    std::vector<unsigned char> section;
};

constexpr uint16_t ProgramIconId = 110;
// The language of the written resources where the prebuilt has none of its own: windres's.
constexpr uint16_t DefaultResourceLanguage = 0x409;

// The prebuilt program with the additions, into out: its sections kept byte for
// byte up to its .rsrc, the resources merged (an added one replaces the one of
// its type, id and language), the section after them, then its .reloc, and the
// headers and checksum made to match. Same input, same bytes. False with a
// one-line problem when the prebuilt is not a PE32 (i386) or PE32+ (AMD64)
// image as mingw's ld links it, with .rsrc and .reloc last, no certificate and
// nothing after its last section, or when the additions or the result are not
// valid.
bool WriteProgram(const std::vector<unsigned char>& prebuilt, const ProgramAdditions& additions,
    std::vector<unsigned char>& out, std::string& problem);

// The PE checksum of an image as Windows' CheckSumMappedFile computes it, the
// field itself taken as zero (the sum of all words where the image has no
// headers that place it).
uint32_t ImageChecksum(const std::vector<unsigned char>& image);
