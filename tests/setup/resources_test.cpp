// What setup.exe and the uninstaller carry besides their code: the manifest
// that asks for administrator rights, common controls 6, per-monitor DPI
// awareness and the UTF-8 code page, their version information and the
// product's icon.
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

TEST(ProgramResources, ManifestVersionAndIcon)
{
    // The setup program, and the uninstaller it installs.
    const struct {
        const char* path;
        const char* productName;
        bool utf8;
    } programs[] = {{SETUP_EXE, "Pelmora Setup", true}, {UNINSTALLER_EXE, "Pelmora Uninstaller", true},
        {SETUP_WITHOUT_UTF8_EXE, "Pelmora Setup", false}};
    for (const auto& program : programs) {
        SCOPED_TRACE(program.path);
        HMODULE module = LoadLibraryExA(program.path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        std::string manifest = Resource(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos);
        EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
        EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
        EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
        EXPECT_EQ(manifest.find(">UTF-8</activeCodePage>") != std::string::npos, program.utf8);

        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(program.path, &handle);
        ASSERT_GT(size, 0u);
        std::string info(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoA(program.path, 0, size, &info[0]));
        char* product = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductName",
            reinterpret_cast<void**>(&product), &length));
        EXPECT_STREQ(product, program.productName);

        EXPECT_FALSE(Resource(module, MAKEINTRESOURCEA(110), MAKEINTRESOURCEA(14)).empty()) << "icon 110";
        FreeLibrary(module);
    }
}
