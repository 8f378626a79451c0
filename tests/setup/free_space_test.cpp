#include "doubles.h"
#include "globals.h"
#include "sequence.h"
#include "text.h"
#include <gtest/gtest.h>

TEST(FreeSpace, RootComesFromTheFolderOrTheCurrentDrive)
{
    const struct {
        const char* folder;
        char currentDrive;
        const char* root;
    } cases[] = {
        {"C:\\Apps\\Pelmora", 'D', "C:\\"},
        {"d:/x", 'C', "d:/"},
        {"E:", 'C', "E:"},
        {"\\Apps\\Pelmora", 'D', "D:/"},
        {"Pelmora", 'C', "C:/"},
        {"\\\\server\\share\\x", '\0', ""},
        {"", 'C', "C:/"},
    };
    for (const auto& c : cases) {
        char root[FreeSpaceRootSize];
        FreeSpaceRoot(c.folder, c.currentDrive, root);
        EXPECT_STREQ(root, c.root) << c.folder;
    }
}

TEST(FreeSpace, ArithmeticInClustersWithoutWrapping)
{
    const struct {
        DiskFreeSpace space;
        int32_t required;
        bool passes;
        int available;
    } cases[] = {
        {{8, 512, 0}, 0, true, -1},                 // 0 passes on every drive
        {{8, 512, 256}, 1, true, -1},               // exactly 1 MB free in 4 KB clusters
        {{8, 512, 255}, 1, false, 0},               // one cluster short; 1020 KB shown as 0 MB
        {{8, 512, 2560}, 11, false, 10},
        {{64, 512, 0xFFFFFFFF}, 4095, true, -1},
        {{8, 512, 1048576}, 4096, true, -1},        // 4096 MB would wrap 32-bit bytes to 0
        {{8, 512, 1048575}, 4096, false, 4095},
        {{1, 512, 0xFFFFFFFF}, 0x7FFFFFFF, false, 2097151},
        {{0, 512, 10}, 100, true, -1},              // a nonsensical answer is no reason to stop
    };
    for (const auto& c : cases) {
        int available = -1;
        EXPECT_EQ(FreeSpaceSufficient(c.space, c.required, &available), c.passes) << c.required;
        EXPECT_EQ(available, c.available) << c.required;
    }
}

TEST(FreeSpace, MeasuresTheRealDriveAndPassesWhenTheQueryFails)
{
    ResetDoubles();
    char root[FreeSpaceRootSize];
    int available = -1;
    CopyText(InstallFolder, sizeof InstallFolder, "C:\\windows");
    EXPECT_TRUE(FreeSpaceTest(root, &available));
    EXPECT_STREQ(root, "C:\\");

    ProductConfig.requiredMegabytes = 0x7FFFFFFF;
    EXPECT_FALSE(FreeSpaceTest(root, &available));
    EXPECT_GT(available, 0);

    CopyText(InstallFolder, sizeof InstallFolder, "R:\\missing");
    EXPECT_TRUE(FreeSpaceTest(root, &available));
    EXPECT_STREQ(root, "R:\\");

    SetCurrentDirectoryA("C:\\windows");
    CopyText(InstallFolder, sizeof InstallFolder, "relative");
    EXPECT_FALSE(FreeSpaceTest(root, &available));
    EXPECT_STREQ(root, "C:/");
}
