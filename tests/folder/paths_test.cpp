#include "paths.h"
#include <gtest/gtest.h>
#include <string>

TEST(FolderPaths, NormalizeSeparatorsCollapsesEveryRun)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:/Data//x", "C:\\Data\\x"},
        {"C:\\\\/\\a/\\b", "C:\\a\\b"},
        {"\\\\server\\share", "\\\\server\\share"}, // a network path keeps its leading pair
        {"//server//share/x", "\\\\server\\share\\x"},
        {"\\\\\\server", "\\\\server"},
        {"C:\\x\\", "C:\\x\\"},
        {"//", "\\"},
        {"", ""},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        char path[64];
        strcpy_s(path, c.in);
        NormalizeSeparators(path);
        EXPECT_STREQ(path, c.out) << c.in;
    }
}

TEST(FolderPaths, StripTrailingCharRemovesAtMostOne)
{
    const struct {
        const char* in;
        char c;
        const char* out;
    } cases[] = {{"C:\\x\\\\", '\\', "C:\\x\\"}, {"", '\\', ""}, {"C:/", '\\', "C:/"}, {"C:/", '/', "C:"},
        {"\\", '\\', ""}};
    for (const auto& c : cases) {
        char text[16];
        strcpy_s(text, c.in);
        StripTrailingChar(text, c.c);
        EXPECT_STREQ(text, c.out) << c.in;
    }
}

TEST(FolderPaths, HomeProposalFromTheHomeVariables)
{
    const struct {
        const char* drive;
        const char* path;
        const char* proposal;
    } cases[] = {
        {"H:", "\\users\\ann", "H:\\users\\ann\\Pelmora"},
        {"C:", "\\", "C:\\Pelmora"},
        {nullptr, nullptr, "C:\\Pelmora"},
        {"D:", "E:\\home", "E:\\home\\Pelmora"},
        {"D:\\", "\\x/", "D:\\x\\Pelmora"},
        {nullptr, "\\users\\root", "C:\\users\\root\\Pelmora"},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_TRUE(BuildHomeProposal(c.drive, c.path, "Pelmora", out, sizeof out));
        EXPECT_STREQ(out, c.proposal) << (c.path ? c.path : "(unset)");
    }
    char exact[11]; // "C:\Pelmora" and its zero
    EXPECT_TRUE(BuildHomeProposal("C:", "", "Pelmora", exact, sizeof exact));
    EXPECT_STREQ(exact, "C:\\Pelmora");
    char short_[10];
    EXPECT_FALSE(BuildHomeProposal("C:", "", "Pelmora", short_, sizeof short_));
    EXPECT_STREQ(short_, "");
}

TEST(FolderPaths, ProposalSplitsIntoTheTwoFields)
{
    const struct {
        const char* proposal;
        const char* parent;
        const char* name;
    } cases[] = {
        {"C:\\Pelmora", "C:", "Pelmora"},
        {"C:\\Apps\\Pelmora", "C:\\Apps", "Pelmora"},
        {"C:/Apps/Pelmora", "C:/Apps", "Pelmora"},
        {"C:\\Apps/Pelmora", "C:", "Apps/Pelmora"},
        {"Pelmora", "Pelmora", ""},
        {"", "", ""},
        {"C:\\", "C:", ""},
    };
    for (const auto& c : cases) {
        char parent[64], name[64];
        EXPECT_TRUE(SplitProposal(c.proposal, parent, sizeof parent, name, sizeof name));
        EXPECT_STREQ(parent, c.parent) << c.proposal;
        EXPECT_STREQ(name, c.name) << c.proposal;
    }
}

TEST(FolderPaths, FieldsJoinIntoAFolder)
{
    const struct {
        const char* parent;
        const char* name;
        const char* folder;
    } cases[] = {
        {"C:", "Pelmora", "C:\\Pelmora"},
        {"C:/Apps/", "Pelmora", "C:\\Apps\\Pelmora"},
        {"D:", "X", "D:\\X"},
        {"", "Pelmora", "\\Pelmora"},
        {"C:\\Apps", "", "C:\\Apps\\"},
        {"C:", "a/b", "C:\\a/b"},
    };
    for (const auto& c : cases) {
        char folder[64];
        EXPECT_TRUE(JoinFolderFields(c.parent, c.name, folder, sizeof folder));
        EXPECT_STREQ(folder, c.folder) << c.parent << " + " << c.name;
    }
    char exact[5];
    EXPECT_TRUE(JoinFolderFields("C:", "x", exact, sizeof exact));
    EXPECT_FALSE(JoinFolderFields("C:", "xy", exact, sizeof exact));
    EXPECT_STREQ(exact, "");
}

TEST(FolderPaths, FolderNameSuffixIgnoresTheCaseOfLetters)
{
    EXPECT_TRUE(EndsWithFolderName("C:\\Apps\\Pelmora", "Pelmora"));
    EXPECT_TRUE(EndsWithFolderName("C:\\Apps\\PELMORA", "Pelmora"));
    EXPECT_TRUE(EndsWithFolderName("C:\\Apps\\OldPelmora", "Pelmora"));
    EXPECT_FALSE(EndsWithFolderName("C:\\Apps\\Pelmora\\", "Pelmora"));
    EXPECT_FALSE(EndsWithFolderName("mora", "Pelmora"));
    EXPECT_TRUE(EndsWithFolderName("Pelmora", "Pelmora"));
}
