// What setup.exe carries besides its code: the manifest that asks for
// administrator rights and common controls 6, and its version information.
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

TEST(SetupResources, ManifestVersionAndIcon)
{
    HMODULE setup = LoadLibraryExA(SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setup, nullptr);
    std::string manifest = Resource(setup, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(SETUP_EXE, &handle);
    ASSERT_GT(size, 0u);
    std::string info(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(SETUP_EXE, 0, size, &info[0]));
    char* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\ProductName",
        reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, "Pelmora Setup");

    EXPECT_FALSE(Resource(setup, MAKEINTRESOURCEA(110), MAKEINTRESOURCEA(14)).empty()) << "icon 110";
    FreeLibrary(setup);
}
