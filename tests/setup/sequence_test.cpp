// The whole sequence, in-process, with doubles of the other subsystems and its
// real message boxes answered by the responder: each test asserts the
// transcript of one way through a run.
#include "doubles.h"
#include "derived.h"
#include "globals.h"
#include "payload.h"
#include "places.h"
#include "resource.h"
#include "run.h"
#include "sequence.h"
#include "text.h"
#include "ui.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace automation;
using Lines = std::vector<std::string>;

namespace {

const std::string NotInstalled =
    "Application Not Installed | The application will not be installed at this time. If you decide to install "
    "the application later, just launch this program again to complete the installation process. | [OK] -> OK";
const std::string Prompt = ShippedConfig().startupPrompt;
const std::string Success = "Installation Successful | Pelmora has been successfully installed on your system. "
                            "Would you like to start Pelmora now? | [Yes,No]";
const std::string Folder = "C:\\Apps\\Pelmora";

class SequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDoubles();
        Record = &transcript;
        Script.folders = {Folder};
    }

    // Runs the sequence with the given answers to its screens; returns the transcript.
    Lines Run(std::vector<Action> answers, int exitCode = 0, const char* folder = "",
        RunSwitches switches = RunSwitches())
    {
        Responder responder(transcript, std::move(answers), GetCurrentThreadId(), 0, {}, 5000);
        CopyText(switches.folder, sizeof switches.folder, folder);
        switches.unattended = Unattended;
        EXPECT_EQ(SetupSequence(GetModuleHandleA(nullptr), switches), exitCode);
        responder.Stop();
        EXPECT_TRUE(responder.Done());
        return transcript.Lines();
    }

    // A new run within one test, for table-driven cases.
    void Restart()
    {
        TearDown();
        transcript.Clear();
        SetUp();
    }

    void TearDown() override
    {
        if (ProgressWindow && IsWindow(ProgressWindow))
            DestroyWindow(ProgressWindow);
        if (BackdropDouble && IsWindow(BackdropDouble))
            DestroyWindow(BackdropDouble);
        UnregisterClassA("install", GetModuleHandleA(nullptr));
    }

    Transcript transcript;
};

const Lines Opening = {
    "CreateBackdropFont(1252, 144)",
    "RegisterBackdropClass -> registered",
    "CreateBackdropWindow(Install Pelmora)",
    "RunAgreementDialog(owner is backdrop: yes) -> 1",
};

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Lines Extracted = {
    "ResolveInstallFolder(backdrop, 1) -> " + Folder,
    "CreateProgressDialog",
    "ShowProgress(progress, Shutting Down Running Copies, 0)",
    "ShutDownRunningCopies(" + Folder + ")",
    "ExtractPayload(progress, ShowProgress) -> 4",
    "OpenDdeClient",
    "CreateProductGroup(C:\\Apps\\Pelmora\\pelmora.exe | \"C:\\Apps\\Pelmora\\pelmora.exe\" -icon | "
    "C:\\Apps\\Pelmora\\pmuninst.exe)",
    "RegisterUninstallEntry",
};

// A run up to its extraction, which ends with the result.
Lines UpToExtraction(int result)
{
    Lines lines = Join({Opening, Extracted});
    lines.resize(Opening.size() + 5);
    lines.back() = "ExtractPayload(progress, ShowProgress) -> " + std::to_string(result);
    return lines;
}

} // namespace

TEST_F(SequenceTest, WindowClassNotRegisteredEndsSilently)
{
    Script.classRegisters = false;
    EXPECT_EQ(Run({}, 1603), (Lines{"CreateBackdropFont(1252, 144)", "RegisterBackdropClass -> failed"}));
    EXPECT_EQ(BackdropDouble, nullptr);
}

TEST_F(SequenceTest, DeclinedOrUnshownAgreementEndsBeforeAnyFolderChoice)
{
    // -1: the dialog could not be created, so the user never agreed.
    for (INT_PTR result : {0, -1}) {
        Restart();
        Script.agreement = result;
        Lines expected = Opening;
        expected.back() = "RunAgreementDialog(owner is backdrop: yes) -> " + std::to_string(result);
        expected.push_back(NotInstalled);
        EXPECT_EQ(Run({Press(IDOK)}, result == 0 ? 1602 : 1603), expected) << result;
        EXPECT_STREQ(BackdropTitle, "Install Pelmora");
    }
}

TEST_F(SequenceTest, AbandonedFolderChoiceEnds)
{
    Script.folders = {};
    EXPECT_EQ(Run({Press(IDOK)}, 1602),
        Join({Opening, {"ResolveInstallFolder(backdrop, 1) -> gave up", NotInstalled}}));
}

TEST_F(SequenceTest, A64BitProductIsRefusedOn32BitWindowsBeforeAnything)
{
    ProductDetails.sixtyFourBit = 1;
    Script.windows64 = false;
    EXPECT_EQ(Run({Press(IDOK)}, 1603), Lines{"Setup | Pelmora needs a 64-bit version of Windows. | [OK] -> OK"});
    Script.windows64 = true;
    Restart();
    EXPECT_EQ(Run({Press(IDNO), Press(IDNO)}).front(), Opening.front()) << "on 64-bit Windows it installs";
    ProductDetails.sixtyFourBit = 0;
}

TEST_F(SequenceTest, TheSetupProgramIsCheckedWholeBeforeItChangesAnything)
{
    const std::string damaged = "Setup | The setup program is damaged or incomplete. Download it again.\r\n\r\n"
                                "C:\\Downloads\\Pelmora-1.bin | [OK] -> OK";
    // A file missing or of another size: before the first screen.
    Script.payloadSized = false;
    EXPECT_EQ(Run({Press(IDOK)}, 1603), (Lines{"BeginPayloadCheck -> a file of another size", damaged}));
    // A digest that differs: known once the agreement is answered, before any folder is chosen.
    Restart();
    Script.payloadDigests = false;
    EXPECT_EQ(Run({Press(IDOK)}, 1603), Join({Opening, {"AwaitPayloadCheck -> a digest differs", damaged}}));
    // A check that takes longer than a second shows its progress, until it is done.
    Restart();
    Script.payloadChecking = 2;
    Lines lines = Run({Press(IDNO), Press(IDNO)});
    ASSERT_GE(lines.size(), Opening.size() + 5);
    EXPECT_EQ(Lines(lines.begin() + Opening.size(), lines.begin() + Opening.size() + 5),
        (Lines{"AwaitPayloadCheck(1000) -> still checking", "CreateProgressDialog",
            "ShowProgress(progress, Checking the setup program, 40)", "AwaitPayloadCheck(100) -> still checking",
            "ShowProgress(progress, Checking the setup program, 40)"}));
    EXPECT_EQ(lines[Opening.size() + 5], "ResolveInstallFolder(backdrop, 1) -> " + Folder) << "and then the folder";
    // Unattended, the whole parts are not checked first: the extraction checks every byte it uses, and a
    // damaged one fails it, undone, with the same message in the log.
    Restart();
    Script.payloadDigests = false;
    Unattended = true;
    Script.extractResult = ExtractPayloadDamaged;
    EXPECT_EQ(Run({}, 1603),
        (Lines{"BeginPayloadCheck(sizes and image only)", "AcceptProposedFolder -> " + Folder,
            "ShutDownRunningCopies(" + Folder + ")", "ExtractPayload(none, none) -> 6",
            "RemoveExtractedFiles(none, none) -> 4"}));
    Unattended = false;
    // The same, found by the extraction of an interactive run.
    Restart();
    Script.extractResult = ExtractPayloadDamaged;
    EXPECT_EQ(Run({Press(IDOK)}, 1603),
        Join({UpToExtraction(ExtractPayloadDamaged), {"RemoveExtractedFiles(none, none) -> 4", damaged}}));
    // Without the system's SHA-256 nothing can be checked, and the message says so.
    Restart();
    Script.payloadCheckable = false;
    EXPECT_EQ(Run({Press(IDOK)}, 1603),
        (Lines{"BeginPayloadCheck -> no SHA-256",
            "Setup | The setup program cannot check that it is whole: the part of Windows that computes SHA-256 "
            "digests is not available. Repair or update Windows and run the setup program again. | [OK] -> OK"}));
}

TEST_F(SequenceTest, InstalledWithStartupItemAndLaunchDeclined)
{
    EXPECT_EQ(Run({Press(IDYES), Press(IDNO)}),
        Join({Opening, Extracted,
            {"Add To Startup Group | " + Prompt + " | [Yes,No] -> Yes", "AddStartupItem",
                "RecordLink(" + Folder + " | C:\\Startup\\Pelmora.lnk)", "CloseDdeClient",
                "RememberInstallFolder(" + Folder + ")", Success + " -> No"}}));
    EXPECT_FALSE(IsWindow(ProgressWindow));
    EXPECT_TRUE(IsWindow(BackdropDouble));
    EXPECT_STREQ(ApplicationPath, "C:\\Apps\\Pelmora\\pelmora.exe");
}

TEST_F(SequenceTest, LaunchAcceptedHandsOverBackdropAndFont)
{
    Lines lines = Run({Press(IDNO), Press(IDYES)});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], Success + " -> Yes");
    EXPECT_EQ(lines.back(), "LaunchApplication(backdrop, backdrop font)");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "AddStartupItem"), 0);
}

TEST_F(SequenceTest, WarnsOfRunningCopiesInsteadOfShuttingThemDown)
{
    ProductConfig.warnOfRunningCopies = 1;
    Lines lines = Run({Press(IDOK), Press(IDNO), Press(IDNO)});
    Lines head(lines.begin() + 4, lines.begin() + 8);
    EXPECT_EQ(head, (Lines{"ResolveInstallFolder(backdrop, 1) -> " + Folder, "CreateProgressDialog",
                        "Close Running Copies First! | Do you already have an older version of Pelmora?\r\n\r\nIf "
                        "you do, MAKE SURE IT IS NOT RUNNING RIGHT NOW. If it is running, shut it down BEFORE "
                        "clicking the OK button.\r\n\r\nIf you have not installed Pelmora before, just click the OK "
                        "button. | [OK] -> OK",
                        "ExtractPayload(progress, ShowProgress) -> 4"}));
}

TEST_F(SequenceTest, ExtractionFailureShowsItsMessageAndRollsBack)
{
    const char notRestored[] =
        "Some of the files this installation replaced could not be put back yet. Close the programs that use them "
        "and run the setup program again: before anything else, it puts back what this installation replaced.";
    const struct {
        int result;
        const char* text;
        int removeResult;
    } cases[] = {
        {1, "The application was not able to create one of its component files. The disk is full, or a copy of the "
            "application is already running, or you do not have write access to the directory in which you are "
            "attempting to install the application. Check your available disk space and run the setup program "
            "again.",
            4},
        {2, "The application was unable to finish writing a file to disk. Your hard drive is probably full. Check "
            "your available disk space, make additional space available, and run the setup program again.",
            4},
        {3, "Insufficient memory was available for the setup procedure. Close other applications and run the setup "
            "program again.",
            4},
        {2, "The application was unable to finish writing a file to disk. Your hard drive is probably full. Check "
            "your available disk space, make additional space available, and run the setup program again.",
            0},
    };
    for (const auto& c : cases) {
        Restart();
        Script.extractResult = c.result;
        Script.removeResult = c.removeResult;
        // Rolled back before the message, so that the folder holds the earlier version while it waits.
        Lines expected = Join({UpToExtraction(c.result),
            {"RemoveExtractedFiles(none, none) -> " + std::to_string(c.removeResult),
                std::string("Pelmora Installation Failed | ") + c.text + " | [OK] -> OK"}});
        std::vector<Action> answers = {Press(IDOK)};
        if (c.removeResult != 4) {
            expected.push_back(std::string("Pelmora Installation Failed | ") + notRestored + " | [OK] -> OK");
            answers.push_back(Press(IDOK));
        }
        EXPECT_EQ(Run(answers, 1603), expected) << c.result;
        EXPECT_TRUE(IsWindow(ProgressWindow)) << "the progress dialog stays open after a failure";
    }

    // A file that another program holds where the restart may not replace it: nothing was written, the
    // folder holds the earlier version again, and the user closes the program and tries again, or gives up.
    const std::string fileInUse =
        "File in Use | The file C:\\Apps\\Pelmora\\help.htm is in use by another program, so it cannot be "
        "replaced now. Close the program that uses it, then choose Retry. Cancel ends the installation and keeps "
        "the version installed before. | [Retry,Cancel] -> ";
    for (bool retried : {true, false}) {
        Restart();
        Script.extractResult = ExtractFileHeld;
        Lines expected = Join({UpToExtraction(ExtractFileHeld),
            {"RemoveExtractedFiles(none, none) -> 4", fileInUse + (retried ? "Retry" : "Cancel")}});
        if (retried)
            expected.insert(expected.end(), Extracted.begin() + 4, Extracted.end());
        else
            expected.push_back(NotInstalled);
        std::vector<Action> answers = {Press(retried ? IDRETRY : IDCANCEL)};
        for (int answer : retried ? std::vector<int>{IDNO, IDNO} : std::vector<int>{IDOK})
            answers.push_back(Press(answer));
        Lines lines = Run(answers, retried ? 0 : 1602);
        if (retried)
            lines.resize(std::min(lines.size(), expected.size()));
        EXPECT_EQ(lines, expected) << retried;
        if (!retried)
            EXPECT_FALSE(IsWindowVisible(ProgressWindow)) << "no progress of an earlier step behind the question";
    }
}

TEST_F(SequenceTest, AnEntryOrFolderThatCannotBeRememberedFailsTheRunAfterTheRest)
{
    const std::string notRegistered =
        "Pelmora Installation Failed | The application's files were installed, but its uninstall entry or the record "
        "of its folder could not be written: without them it can be neither removed nor updated. Run the setup "
        "program again. | [OK] -> OK";
    for (bool entryWritten : {false, true}) {
        Restart();
        Script.entryWritten = entryWritten;
        Script.remembers = !entryWritten;
        Lines expected = Join({Opening, Extracted,
            {"Add To Startup Group | " + Prompt + " | [Yes,No] -> Yes", "AddStartupItem",
                "RecordLink(" + Folder + " | C:\\Startup\\Pelmora.lnk)", "CloseDdeClient",
                "RememberInstallFolder(" + Folder + ")" + (entryWritten ? " -> failed" : ""), notRegistered}});
        if (!entryWritten)
            expected[Opening.size() + Extracted.size() - 1] += " -> failed";
        EXPECT_EQ(Run({Press(IDYES), Press(IDOK)}, 1603), expected) << entryWritten;
    }
}

TEST_F(SequenceTest, StartupAndServiceQuestionsFollowPlatformAndConfiguration)
{
    struct Case {
        int offerStartupGroup;
        const char* serviceExecutable;
        bool nt;
        bool asksStartup;
        bool asksService;
    };
    const Case cases[] = {
        {1, "", true, true, false},
        {1, "", false, true, false},
        {1, "svc.exe", true, false, true},
        {1, "svc.exe", false, true, false},
        {0, "", true, false, false},
        {0, "svc.exe", true, false, true},
        {0, "svc.exe", false, false, false},
    };
    for (const Case& c : cases) {
        Restart();
        ProductConfig.offerStartupGroup = c.offerStartupGroup;
        ProductConfig.serviceExecutable = c.serviceExecutable;
        ProductConfig.servicePrompt = "Install the Pelmora service?";
        Script.nt = c.nt;
        std::vector<Action> answers;
        Lines tail;
        if (c.asksStartup) {
            answers.push_back(Press(IDYES));
            tail.push_back("Add To Startup Group | " + Prompt + " | [Yes,No] -> Yes");
            tail.push_back("AddStartupItem");
            tail.push_back("RecordLink(" + Folder + " | C:\\Startup\\Pelmora.lnk)");
        }
        tail.push_back("CloseDdeClient");
        tail.push_back("RememberInstallFolder(" + Folder + ")");
        if (c.asksService) {
            answers.push_back(Press(IDYES));
            tail.push_back("Install NT Service | Install the Pelmora service? | [Yes,No] -> Yes");
            tail.push_back("ReplaceNtService(backdrop)");
        }
        answers.push_back(Press(IDNO));
        tail.push_back(Success + " -> No");
        EXPECT_EQ(Run(answers), Join({Opening, Extracted, tail}))
            << c.offerStartupGroup << " " << c.serviceExecutable << " " << c.nt;
    }
}

TEST_F(SequenceTest, AgentServiceRunsAfterTheFolderIsRemembered)
{
    ProductConfig.offerStartupGroup = 0;
    ProductConfig.useAgentService = 1;
    Lines lines = Run({Press(IDNO)});
    Lines tail(lines.end() - 4, lines.end());
    EXPECT_EQ(tail, (Lines{"CloseDdeClient", "RememberInstallFolder(" + Folder + ")", "InstallAgentService",
                        Success + " -> No"}));
}

TEST_F(SequenceTest, NoToTheServiceQuestionReplacesNothing)
{
    ProductConfig.serviceExecutable = "svc.exe";
    ProductConfig.servicePrompt = "Service?";
    Lines lines = Run({Press(IDNO), Press(IDNO)});
    Lines tail(lines.end() - 2, lines.end());
    EXPECT_EQ(tail, (Lines{"Install NT Service | Service? | [Yes,No] -> No", Success + " -> No"}));
}

TEST_F(SequenceTest, ShortOfSpaceOffersTheFolderAgain)
{
    // The small drive, which no other test writes to meanwhile: the host's own
    // free space changes with whatever else the machine is doing.
    if (GetFileAttributesA("Q:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not permitted)";
    ProductConfig.requiredMegabytes = 0x7FFFFFFF;
    Script.folders = {"Q:\\Pelmora", "R:\\Pelmora"};
    DWORD sectors, bytes, freeClusters, total;
    ASSERT_TRUE(GetDiskFreeSpaceA("Q:\\", &sectors, &bytes, &freeClusters, &total));
    ASSERT_LT((long long)freeClusters * sectors * bytes, 1048576) << "the small drive holds less than a megabyte";
    std::string space = "Not Enough Disk Space | Not enough free disk space is available on the drive you have "
                        "specified. 2147483647 megabytes of free space are required for the proper operation of the "
                        "program. On drive Q:\\ only 0 megabytes of free space are available.\r\n\r\nYou will be "
                        "given another opportunity to choose a location for the software. You may wish to cancel the "
                        "installation process, or use your Windows desktop to delete files, making more room for the "
                        "program. | [OK] -> OK";
    // R: does not exist: the query fails and the test passes.
    Lines lines = Run({Press(IDOK), Press(IDNO), Press(IDNO)});
    Lines head(lines.begin() + 4, lines.begin() + 9);
    EXPECT_EQ(head, (Lines{"ResolveInstallFolder(backdrop, 1) -> Q:\\Pelmora", space, "RequestInstallFolder(Q:\\Pelmora)",
                        "ResolveInstallFolder(backdrop, 1) -> R:\\Pelmora", "CreateProgressDialog"}));
}

TEST_F(SequenceTest, GivingUpAfterTooLittleSpaceEnds)
{
    ProductConfig.requiredMegabytes = 0x7FFFFFFF;
    Lines lines = Run({Press(IDOK), Press(IDOK)}, 1602);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[5].substr(0, 24), "Not Enough Disk Space | ");
    EXPECT_EQ(lines[6], "RequestInstallFolder(" + Folder + ")");
    EXPECT_EQ(lines[7], "ResolveInstallFolder(backdrop, 1) -> gave up");
    EXPECT_EQ(lines[8], NotInstalled);
}

TEST_F(SequenceTest, FolderTooLongForItsTextsIsOfferedAgain)
{
    Script.folders = {"C:\\" + std::string(1015, 'x'), Folder};
    Lines lines = Run({Press(IDOK), Press(IDNO), Press(IDNO)});
    Lines head(lines.begin() + 4, lines.begin() + 8);
    EXPECT_EQ(head[1], "Folder Name Too Long | That location is too long for the files of this application. Please "
                       "choose a folder with a shorter path. | [OK] -> OK");
    EXPECT_EQ(head[2], "ResolveInstallFolder(backdrop, 1) -> " + Folder);
}

TEST_F(SequenceTest, UnattendedRunShowsNothingAndTakesTheFixedAnswers)
{
    // The requested folder reaches the folder choice; the questions take Yes, but not the launch.
    Unattended = true;
    ProductConfig.serviceExecutable = "svc.exe";
    ProductConfig.servicePrompt = "Service?";
    Script.nt = false;
    EXPECT_EQ(Run({}, 0, "D:\\Deploy\\Pelmora"),
        (Lines{"BeginPayloadCheck(sizes and image only)", "RequestInstallFolder(D:\\Deploy\\Pelmora)", "AcceptProposedFolder -> " + Folder,
            "ShutDownRunningCopies(" + Folder + ")", "ExtractPayload(none, none) -> 4", "OpenDdeClient",
            Extracted[6], "RegisterUninstallEntry", "AddStartupItem",
            "RecordLink(" + Folder + " | C:\\Startup\\Pelmora.lnk)", "CloseDdeClient",
            "RememberInstallFolder(" + Folder + ")"}));

    // A folder that cannot be used, an extraction that fails (also over a file another program holds, which
    // nobody is there to close), or a step asked for that fails once all else is done, fails the run.
    const struct {
        const char* what;
        bool folderRefused;
        int extractResult;
        bool groupMade;
        const char* last;
    } failures[] = {
        {"folder refused", true, 4, true, "AcceptProposedFolder -> refused"},
        {"extraction failed", false, 2, true, "RemoveExtractedFiles(none, none) -> 4"},
        {"a file held", false, ExtractFileHeld, true, "RemoveExtractedFiles(none, none) -> 4"},
        {"the group not made", false, 4, false, "RememberInstallFolder(C:\\Apps\\Pelmora)"},
    };
    for (const auto& c : failures) {
        Restart();
        Unattended = true;
        Script.folders = c.folderRefused ? std::vector<std::string>{} : std::vector<std::string>{Folder};
        Script.extractResult = c.extractResult;
        Script.groupMade = c.groupMade;
        Lines lines = Run({}, 1603);
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.back(), c.last) << c.what;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "RemoveExtractedFiles(none, none) -> 4"),
            c.extractResult == 4 ? 0 : 1)
            << c.what << ": rolled back once";
    }
    Unattended = false;
}

TEST_F(SequenceTest, WhoTheProductIsForDecidesTheDialogAndTheElevatedStart)
{
    const Lines installed = Join({Extracted,
        {"Add To Startup Group | " + Prompt + " | [Yes,No] -> Yes", "AddStartupItem",
            "RecordLink(" + Folder + " | C:\\Startup\\Pelmora.lnk)", "CloseDdeClient",
            "RememberInstallFolder(" + Folder + ")", Success + " -> No"}});
    const std::string asked = std::string("RunInstallForDialog(owner is backdrop: yes, proposed: me")
        + (RunsElevated() ? "" : ", shield") + ") -> ";
    const std::string elevated = "ShellExecuteEx(runas: /ALLUSERS /ELEVATED /AGREED, backdrop gone) -> ";
    RunSwitches currentUser = {};
    currentUser.currentUser = true;
    RunSwitches allUsers = {};
    allUsers.allUsers = true;
    RunSwitches continued = allUsers;
    continued.elevated = continued.agreed = true;
    const struct {
        const char* what;
        int32_t installFor;
        RunSwitches switches;
        INT_PTR answer;
        unsigned long elevationError;
        std::vector<Action> presses;
        int exitCode;
        Lines transcript;
    } cases[] = {
        {"for me: installed by this process", InstallForAsk, {}, IDC_INSTALL_FOR_USER, 0, {Press(IDYES), Press(IDNO)}, 0,
            Join({Opening, {asked + "1110"}, installed})},
        {"for everyone: the elevated process's exit code", InstallForAsk, {}, IDC_INSTALL_FOR_MACHINE, 0, {}, 3010,
            Join({Opening, {asked + "1111", elevated + "exit code 3010"}})},
        {"for everyone, the rights refused", InstallForAsk, {}, IDC_INSTALL_FOR_MACHINE, ERROR_CANCELLED,
            {Press(IDOK)}, 1602, Join({Opening, {asked + "1111", elevated + "error 1223", NotInstalled}})},
        {"for everyone, not started", InstallForAsk, {}, IDC_INSTALL_FOR_MACHINE, ERROR_FILE_NOT_FOUND,
            {Press(IDOK)}, 1603, Join({Opening, {asked + "1111", elevated + "error 2", NotInstalled}})},
        {"nobody chosen", InstallForAsk, {}, 0, 0, {Press(IDOK)}, 1602, Join({Opening, {asked + "0", NotInstalled}})},
        {"the dialog not shown", InstallForAsk, {}, -1, 0, {Press(IDOK)}, 1603, Join({Opening, {asked + "-1", NotInstalled}})},
        {"/CURRENTUSER: nobody asked", InstallForAsk, currentUser, 0, 0, {Press(IDYES), Press(IDNO)}, 0,
            Join({Opening, installed})},
        {"the elevated process: neither asked again", InstallForAsk, continued, 0, 0, {Press(IDYES), Press(IDNO)}, 0,
            Join({Lines(Opening.begin(), Opening.end() - 1), installed})},
        {"/CURRENTUSER for a product of the machine", InstallForMachine, currentUser, 0, 0, {Press(IDOK)}, 1603,
            {"Setup | Pelmora can only be installed for everyone on this computer. | [OK] -> OK"}},
        {"/ALLUSERS for a product of the user's", InstallForUser, allUsers, 0, 0, {Press(IDOK)}, 1603,
            {"Setup | Pelmora can only be installed for one user at a time, in that user's own folders. | [OK] -> OK"}},
        {"a product of the user's: nobody asked", InstallForUser, {}, 0, 0, {Press(IDYES), Press(IDNO)}, 0,
            Join({Opening, installed})},
    };
    for (const auto& c : cases) {
        Restart();
        ProductDetails.installFor = c.installFor;
        Script.installFor = c.answer;
        Script.elevationError = c.elevationError;
        Script.elevatedExitCode = 3010;
        EXPECT_EQ(Run(c.presses, c.exitCode, "", c.switches), c.transcript) << c.what;
    }

    // Unattended, without a switch: for everyone, the manifest's default, asking nobody.
    Restart();
    ProductDetails.installFor = InstallForAsk;
    Unattended = true;
    Lines unattended = Run({});
    Unattended = false;
    EXPECT_EQ(std::count_if(unattended.begin(), unattended.end(),
                  [](const std::string& line) { return line.rfind("RunInstallForDialog", 0) == 0; }),
        0);
    ProductDetails.installFor = InstallForMachine;
}

TEST_F(SequenceTest, TheDialogProposesTheModeOfTheInstallationThatIsThere)
{
    // A name of its own: no other test's entry is this product's.
    ProductConfig.displayName = "Pelmora For Whom";
    const char key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pelmora For Whom";
    auto proposal = [&]() {
        Restart();
        ProductConfig.displayName = "Pelmora For Whom";
        ProductDetails.installFor = InstallForAsk;
        Script.installFor = 0;
        for (const std::string& line : Run({Press(IDOK)}, 1602))
            if (line.rfind("RunInstallForDialog", 0) == 0)
                return line.substr(line.find("proposed: ") + 10, line.find_first_of(",)", line.find("proposed: ")) - line.find("proposed: ") - 10);
        return std::string("(not asked)");
    };
    auto addEntry = [&](HKEY root) {
        HKEY created;
        ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr), ERROR_SUCCESS);
        const char command[] = "\"C:\\Apps\\Pelmora\\pmuninst.exe\"";
        RegSetValueExA(created, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof command);
        RegCloseKey(created);
    };
    EXPECT_EQ(proposal(), "me") << "nothing installed";
    addEntry(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(proposal(), "everyone") << "installed for everyone";
    addEntry(HKEY_CURRENT_USER);
    EXPECT_EQ(proposal(), "me") << "installed for this user too: the user's own first";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    ProductDetails.installFor = InstallForMachine;
}

TEST(SequenceTexts, EveryDerivedTextMustFitForAFolderToPass)
{
    ResetDoubles();
    RegisterFolderCheck(FolderFitsProduct);
    EXPECT_TRUE(DerivedTextsFit("C:\\Apps\\Pelmora"));
    // The installed files' longest path is the tightest limit: 259 characters.
    std::string folder = "C:\\" + std::string(259 - 3 - 13, 'f');
    EXPECT_TRUE(DerivedTextsFit(folder.c_str()));
    EXPECT_FALSE(DerivedTextsFit((folder + "f").c_str()));
    // A long product name leaves no room in the Program Manager commands for the same folder.
    std::string name(1000, 'n');
    ProductConfig.displayName = name.c_str();
    EXPECT_FALSE(DerivedTextsFit("C:\\Apps\\Pelmora"));
    // The NT service's longest command is its installation run: "C:\Apps\Pelmora\s..." -install-service.
    for (size_t length : {988u, 989u}) {
        ProductConfig = ShippedConfig();
        std::string service(length, 's');
        ProductConfig.serviceExecutable = service.c_str();
        EXPECT_EQ(DerivedTextsFit("C:\\Apps\\Pelmora"), length == 988u) << length;
    }
    ProductConfig = ShippedConfig();
}
