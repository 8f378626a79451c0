// What the packer writes into setup.exe and the uninstaller besides the
// product's section: the manifest that asks for the rights the product's
// installFor needs, common controls 6, per-monitor DPI awareness and the UTF-8
// code page, their version information from the manifest, and the product's
// icon.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Resource(HMODULE module, LPCSTR name, LPCSTR type)
{
    HRSRC found = FindResourceA(module, name, type);
    if (!found)
        return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
}

} // namespace

std::string VersionText(const std::string& info, const char* name)
{
    char* text = nullptr;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
        return "(none)";
    return text;
}

TEST(ProgramResources, ManifestVersionAndIcon)
{
    // The setup programs the packer writes, and the uninstallers they install: for
    // everyone (the shipped product) and for one user (Wren, which names its
    // publisher, version and copyright).
    const struct {
        const char* path;
        const char* level;
        bool utf8;
        const char* productName;
        const char* description;
        const char* company;
        const char* version;
        const char* copyright;
        const char* fileName;
        DWORD versionMS;
    } programs[] = {
        {SETUP_EXE, "requireAdministrator", true, "Pelmora", "Pelmora Setup", "(none)", "(none)", "(none)", "setup.exe", 0},
        {UNINSTALLER_EXE, "requireAdministrator", true, "Pelmora", "Pelmora Uninstaller", "(none)", "(none)", "(none)",
            "pmuninst.exe", 0},
        {SETUP_WITHOUT_UTF8_EXE, "requireAdministrator", false, "Pelmora", "Pelmora Setup", "(none)", "(none)",
            "(none)", "setup.exe", 0},
        {WREN_SETUP_EXE, "asInvoker", true, "Wren", "Wren Setup", "Wren Works", "1.0", "© 2026 Wren Works",
            "setup.exe", 0x10000},
        {WREN_UNINSTALLER_EXE, "asInvoker", true, "Wren", "Wren Uninstaller", "Wren Works", "1.0",
            "© 2026 Wren Works", "pmuninst.exe", 0x10000},
    };
    for (const auto& program : programs) {
        SCOPED_TRACE(program.path);
        HMODULE module = LoadLibraryExA(program.path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
        std::string manifest = Resource(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        EXPECT_NE(manifest.find(std::string("<requestedExecutionLevel level=\"") + program.level + "\""),
            std::string::npos);
        EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
        EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
        EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
        EXPECT_EQ(manifest.find(">UTF-8</activeCodePage>") != std::string::npos, program.utf8);

        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(program.path, &handle);
        ASSERT_GT(size, 0u);
        std::string info(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoA(program.path, 0, size, &info[0]));
        EXPECT_EQ(VersionText(info, "ProductName"), program.productName);
        EXPECT_EQ(VersionText(info, "FileDescription"), program.description);
        EXPECT_EQ(VersionText(info, "CompanyName"), program.company);
        EXPECT_EQ(VersionText(info, "ProductVersion"), program.version);
        EXPECT_EQ(VersionText(info, "FileVersion"), program.version);
        EXPECT_EQ(VersionText(info, "LegalCopyright"), program.copyright);
        EXPECT_EQ(VersionText(info, "OriginalFilename"), program.fileName);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, program.versionMS);
        EXPECT_EQ(fixed->dwProductVersionMS, program.versionMS);

        for (int pixels : {16, 32}) {
            HANDLE icon = LoadImageA(module, MAKEINTRESOURCEA(110), IMAGE_ICON, pixels, pixels, 0);
            EXPECT_NE(icon, nullptr) << "icon 110 at " << pixels;
            if (icon)
                DestroyIcon(static_cast<HICON>(icon));
        }
        FreeLibrary(module);
    }
}
