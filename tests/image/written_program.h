// What the image test writes into its prebuilt program, shared by the tool on
// the build machine that writes it and the test under Wine that reads it back.
#pragma once
#include <stddef.h>

namespace written {

constexpr const char* ProductName = "Pelmora Ünïcødé 日本";
constexpr const char* CompanyName = "Pelmora Gesellschaft 🐘";
constexpr const char* ProductVersion = "2.71.65535";
constexpr const char* FileVersion = "1.2.3.4";
constexpr const char* FileDescription = "Pelmora Setup";
constexpr const char* LegalCopyright = "© 2026 Pelmora";
constexpr const char* OriginalFilename = "setup.exe";
// The manifest the prebuilt's own one gives way to.
constexpr const char* Manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <assemblyIdentity type=\"win32\" name=\"Pelmora.Written\" version=\"2.71.65535.0\"/>\n"
    "</assembly>\n";
constexpr char SectionName[8] = ".pmtest";
// Longer than one file alignment, and not a multiple of it.
constexpr size_t SectionSize = 5000;

inline unsigned char SectionByte(size_t at)
{
    return static_cast<unsigned char>(at * 131 + 7);
}

} // namespace written
