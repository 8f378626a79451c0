#include "sequence.h"
#include "architecture.h"
#include "commands.h"
#include "derived.h"
#include "derived_texts.h"
#include "file_system.h"
#include "folder.h"
#include "globals.h"
#include "message.h"
#include "payload.h"
#include "places.h"
#include "product.h"
#include "profile.h"
#include "resource.h"
#include "run.h"
#include "shell.h"
#include "text.h"
#include "ui.h"
#include "waiting.h"

const EnglishText DamagedFormat = N_("The setup program is damaged or incomplete. Download it again.\r\n\r\n%s");

namespace {

const EnglishText NotInstalledCaption = N_("Application Not Installed");
const EnglishText NotInstalledText =
    N_("The application will not be installed at this time. If you decide to install the application later, "
    "just launch this program again to complete the installation process.");
const EnglishText DiskSpaceCaption = N_("Not Enough Disk Space");
const EnglishText DiskSpaceFormat =
    N_("Not enough free disk space is available on the drive you have specified. %d megabytes of free space "
    "are required for the proper operation of the program. On drive %s only %d megabytes of free space are "
    "available.\r\n\r\nYou will be given another opportunity to choose a location for the software. You may "
    "wish to cancel the installation process, or use your Windows desktop to delete files, making more room "
    "for the program.");
const EnglishText RunningCopiesCaption = N_("Close Running Copies First!");
const EnglishText RunningCopiesFormat =
    N_("Do you already have an older version of %s?\r\n\r\nIf you do, MAKE SURE IT IS NOT RUNNING RIGHT NOW. "
    "If it is running, shut it down BEFORE clicking the OK button.\r\n\r\nIf you have not installed %s before, "
    "just click the OK button.");
const EnglishText FailureCaptionFormat = N_("%s Installation Failed");
const EnglishText CannotCreateText =
    N_("The application was not able to create one of its component files. The disk is full, or a copy of the "
    "application is already running, or you do not have write access to the directory in which you are "
    "attempting to install the application. Check your available disk space and run the setup program again.");
const EnglishText WriteFailedText =
    N_("The application was unable to finish writing a file to disk. Your hard drive is probably full. Check your "
    "available disk space, make additional space available, and run the setup program again.");
const EnglishText OutOfMemoryText =
    N_("Insufficient memory was available for the setup procedure. Close other applications and run the setup "
    "program again.");
const EnglishText NotRestoredText =
    N_("Some of the files this installation replaced could not be put back yet. Close the programs that use them "
    "and run the setup program again: before anything else, it puts back what this installation replaced.");
// When an earlier run that was cut off cannot be settled, nothing is installed over it.
const EnglishText EarlierRunUnreadableFormat =
    N_("An earlier installation was cut off, and the record it left, %s, cannot be read now, so what it replaced "
    "cannot be put back. Close the programs that may be using it and run the setup program again.");
const EnglishText EarlierRunUntrustedFormat =
    N_("An earlier installation was cut off, and the record it left, %s, could have been changed by any program you "
    "run, so this setup, which has administrator rights, does not act on it. Run the setup program again without "
    "administrator rights: before anything else, it puts back what that installation replaced.");
const EnglishText EarlierRunElsewhereFormat =
    N_("An earlier installation into %s was cut off, and that folder now leads to another place. Put the folder back "
    "as it was and run the setup program again: before anything else, it puts back what that installation "
    "replaced.");
const EnglishText EarlierRunOutOfReachFormat =
    N_("An earlier installation into %s was cut off, and that folder cannot be reached now. Connect the drive or "
    "network share that holds it and run the setup program again: before anything else, it puts back what that "
    "installation replaced.");
const EnglishText EarlierRunFilesStayFormat =
    N_("An earlier installation into %s was cut off, and some of the files it replaced could not be put back yet. "
    "Close the programs that use them and run the setup program again: before anything else, it puts back what "
    "that installation replaced.");
const EnglishText EarlierRunLeftoversFormat =
    N_("An earlier installation into %s could not finish: some of the files it replaced, or its record in the "
    "Windows folder, could not be deleted yet. Close the programs that use them and run the setup program again.");
const EnglishText NotRegisteredText =
    N_("The application's files were installed, but its uninstall entry or the record of its folder could not be "
    "written: without them it can be neither removed nor updated. Run the setup program again.");
const EnglishText StartupGroupCaption = N_("Add To Startup Group");
const EnglishText NtServiceCaption = N_("Install NT Service");
const EnglishText SuccessCaption = N_("Installation Successful");
const EnglishText SuccessFormat =
    N_("%s has been successfully installed on your system. Would you like to start %s now?");
const EnglishText RestartCaption = N_("Restart to Complete the Installation");
const EnglishText RestartFormat =
    N_("Some files of %s were in use and could not be replaced now. Windows replaces them when it restarts, which "
    "completes the installation.");
const EnglishText KeptCaption = N_("Files Kept");
const EnglishText KeptFormat =
    N_("These files of %s could not be replaced, so they were kept as they were (they are read-only or protected, "
    "or in use):\r\n\r\n%s");
const EnglishText FileInUseCaption = N_("File in Use");
const EnglishText FileInUseFormat =
    N_("The file %s is in use by another program, so it cannot be replaced now. Close the program that uses it, then "
    "choose Retry. Cancel ends the installation and keeps the version installed before.");
const EnglishText FileHeldFormat =
    N_("The file %s is in use by another program, so it could not be replaced. The version installed before was kept. "
    "Close the program that uses it and run the setup program again.");
const EnglishText CutOffCaption = N_("Interrupted Installation");
const EnglishText CutOffFormat =
    N_("An earlier installation of %s into %s was cut off before it finished. Before anything else, what it changed "
    "is now put back as it was.");
const EnglishText NeedsWindows64Caption = N_("Setup");
const EnglishText NeedsWindows64Format = N_("%s needs a 64-bit version of Windows.");
const EnglishText BackdropTitleFormat = N_("Install %s");
const EnglishText ModeRefusedCaption = N_("Setup");
const EnglishText OnlyForMachineFormat = N_("%s can only be installed for everyone on this computer.");
const EnglishText OnlyForUserFormat =
    N_("%s can only be installed for one user at a time, in that user's own folders.");
// What the setup tells itself when it goes on elevated once the user chose
// to install for everyone: that, and that the agreement was accepted.
const char ElevatedAnswers[] = "/ALLUSERS /ELEVATED /AGREED";
const EnglishText DamagedCaption = N_("Setup");
const EnglishText UncheckableText =
    N_("The setup program cannot check that it is whole: the part of Windows that computes SHA-256 digests is not "
    "available. Repair or update Windows and run the setup program again.");
// The check of the payload shows its progress only when it keeps the user waiting longer than this.
constexpr DWORD CheckWithoutProgress = 1000;
constexpr DWORD CheckProgressInterval = 100;

HINSTANCE SetupInstance;
HWND BackdropWindow;

EnglishText ExtractFailureText(int result)
{
    switch (result) {
    case ExtractWriteFailed:
        return WriteFailedText;
    case ExtractOutOfMemory:
        return OutOfMemoryText;
    default:
        return CannotCreateText;
    }
}

// Tells what the installation left undone: files in use that Windows replaces
// when it restarts, and read-only files kept as they were.
void ReportWhatWaits()
{
    if (FilesReplacedAtRestart() > 0)
        ShowInformation(BackdropWindow, RestartCaption, RestartFormat, ShownProductName());
    char names[KeptListSize + 64];
    if (ReadOnlyFilesKept(names, sizeof names) == 0)
        return;
    ShowInformation(BackdropWindow, KeptCaption, KeptFormat, ShownProductName(), names);
}

// A setup program damaged or incomplete: the file that is, named.
void ReportDamagedPayload(HWND owner)
{
    ShowWarning(owner, DamagedCaption, DamagedFormat, DamagedPayloadFile());
}

// Waits for the check of the payload's digests, which began before the first
// screen; when it takes longer than a second the progress dialog shows it.
// False, told to the user, when the setup program is damaged.
bool AwaitWholePayload()
{
    int check = AwaitPayloadCheck(CheckWithoutProgress);
    HWND progress = nullptr;
    while (check == PayloadChecking) {
        if (!progress && !Unattended)
            progress = CreateProgressDialog(SetupInstance, BackdropWindow, FitProgressDialog);
        if (progress)
            ShowProgress(progress, Translate(CheckingProgressText), PayloadCheckPercent());
        check = AwaitPayloadCheck(CheckProgressInterval);
    }
    if (progress)
        DestroyWindow(progress);
    if (check == PayloadWhole)
        return true;
    ReportDamagedPayload(BackdropWindow);
    return false;
}

// Whether the user closed the program that holds the file and asks to try again.
bool AskToCloseHeldFile()
{
    return AskRetry(BackdropWindow, FileInUseCaption, FileInUseFormat, FileHeldOpen());
}

// A failure, under the caption that names the product.
void ShowFailure(EnglishText text, const char* argument = "")
{
    ShowWarning(BackdropWindow, FailureCaptionFormat, text, argument);
}

// Tells why an earlier run's journal stays; false when none stays.
bool ShowEarlierRunStays()
{
    const char* folder = "";
    char journal[PathBufferSize] = "";
    JournalCause cause = UnsettledJournal(&folder);
    switch (cause) {
    case JournalUnreadable:
    case JournalUntrusted:
        // The journal's place has a path: the run could not have begun without its places.
        ProductPlacePath(RunMode, JournalPlace, journal, sizeof journal);
        ShowFailure(cause == JournalUntrusted ? EarlierRunUntrustedFormat : EarlierRunUnreadableFormat, journal);
        return true;
    case JournalFolderElsewhere:
        ShowFailure(EarlierRunElsewhereFormat, folder);
        return true;
    case JournalFolderOutOfReach:
        ShowFailure(EarlierRunOutOfReachFormat, folder);
        return true;
    case JournalFilesStay:
        ShowFailure(EarlierRunFilesStayFormat, folder);
        return true;
    case JournalLeftoversStay:
        ShowFailure(EarlierRunLeftoversFormat, folder);
        return true;
    default:
        return false;
    }
}

// Offers the folder choice until a folder with enough free space is
// accepted. An unattended run takes the proposal once: a folder it cannot
// use fails the run.
int ChooseFolderWithSpace()
{
    for (;;) {
        if (Unattended ? !AcceptProposedFolder() : !ResolveInstallFolder(SetupInstance, BackdropWindow, 1))
            return Unattended ? ExitFailed : ExitDeclined;
        // Only a folder chooser that skipped its own check gets here with a folder too long.
        if (!DerivedTextsFit(InstallFolder)) {
            ShowWarning(BackdropWindow, FolderTooLongCaption, FolderTooLongText);
            if (Unattended)
                return ExitFailed;
            continue;
        }
        SetCurrentDirectoryA(InstallFolder); // result deliberately ignored: the folder was just entered
        char root[FreeSpaceRootSize];
        int available = 0;
        if (FreeSpaceTest(root, &available))
            return ExitDone;
        ShowWarning(BackdropWindow, DiskSpaceCaption, DiskSpaceFormat, int(ProductConfig.requiredMegabytes), root,
            available);
        if (Unattended)
            return ExitFailed;
        // Nothing is remembered before the installation succeeds: the folder is proposed again from here.
        RequestInstallFolder(InstallFolder);
    }
}

void DealWithRunningCopies(HWND progress, const char* folder)
{
    if (ProductConfig.warnOfRunningCopies) {
        ShowWarning(BackdropWindow, RunningCopiesCaption, RunningCopiesFormat, ShownProductName(), ShownProductName());
        return;
    }
    if (progress)
        ShowProgress(progress, Translate(ShuttingDownProgressText), 0);
    ShutDownRunningCopies(folder);
}

// Whether a step asked for failed: the group, the Startup item, a service.
// Logged as it fails, and the run goes on; an unattended run then ends with
// its failure, so that whoever started it learns of it.
bool StepFailed;

void NoteStepFailed(const char* warning)
{
    LogLine("%s", warning);
    StepFailed = true;
}

// False when the uninstall entry or the remembered folder could not be
// written: the product could then be neither removed nor updated. Every
// other step's failure is noted, and the run goes on.
bool RegisterWithShell()
{
    StepFailed = false;
    // Cannot fail: the folder loop made sure every derived text fits.
    BuildApplicationPath(ProductConfig, InstallFolder, ApplicationPath, sizeof ApplicationPath);
    BuildStartupCommand(ProductConfig, InstallFolder, StartupCommand, sizeof StartupCommand);
    BuildUninstallerPath(ProductConfig, InstallFolder, UninstallerPath, sizeof UninstallerPath);

    OpenDdeClient();
    if (!CreateProductGroup())
        NoteStepFailed("Warning: the program group could not be made in full");
    bool entry = RegisterUninstallEntry();
    if (!entry)
        LogLine("Failed: the uninstall entry could not be written");
    bool nt = IsNtPlatform();
    bool hasNtService = ProductConfig.serviceExecutable[0] != '\0';
    char startupLink[PathBufferSize];
    // The record keeps the link: whoever runs the uninstaller, it is in the installing user's folder.
    if (ProductConfig.offerStartupGroup && (!hasNtService || !nt)
        && AskYesNo(BackdropWindow, true, StartupGroupCaption, ProductText, ProductConfig.startupPrompt)) {
        if (!AddStartupItem(startupLink, sizeof startupLink))
            NoteStepFailed("Warning: the Startup item could not be made");
        else if (!RecordLink(InstallFolder, startupLink))
            LogLine("The install record could not keep the Startup item's link: %s", startupLink);
    }
    CloseDdeClient();
    bool remembered = RememberInstallFolder();
    if (!remembered)
        LogLine("Failed: the folder could not be remembered in %s", ProductConfig.profileFile);
    if (ProductConfig.useAgentService && !InstallAgentService())
        NoteStepFailed("Warning: the agent service could not be installed");
    if (hasNtService && nt && AskYesNo(BackdropWindow, true, NtServiceCaption, ProductText, ProductConfig.servicePrompt)
        && !ReplaceNtService(BackdropWindow))
        NoteStepFailed("Warning: the NT service could not be installed");
    return entry && remembered;
}

bool CreateBackdrop()
{
    FormatText(BackdropTitle, sizeof BackdropTitle, Translate(BackdropTitleFormat), ShownProductName());
    BackdropFont = CreateBackdropFont(ProductCodePage, WindowDpi(nullptr));
    if (!RegisterBackdropClass(SetupInstance))
        return false;
    BackdropWindow = CreateBackdropWindow(SetupInstance, BackdropTitle);
    return true;
}

// The agreement: one the user saw and accepted, or, unattended, the one whoever
// started the run accepted for the machine's users, or one accepted before
// the setup went on elevated. ExitDone when accepted.
int ObtainAgreement(bool agreedBefore)
{
    if (agreedBefore) {
        LogLine("Agreement: accepted before this process began");
        return ExitDone;
    }
    if (Unattended) {
        LogLine("Agreement: accepted for the users of this computer by whoever started the run");
        return ExitDone;
    }
    // A dialog that could not be shown is no consent.
    switch (RunAgreementDialog(SetupInstance, BackdropWindow)) {
    case 1:
        LogLine("Agreement: accepted");
        return ExitDone;
    case 0:
        LogLine("Agreement: declined");
        return ExitDeclined;
    default:
        LogLine("Agreement: the dialog could not be shown");
        return ExitFailed;
    }
}

// Whether the uninstall entry of a user whose registry is loaded (one who is
// logged on) names the folder. The user who chose everyone need not be this
// process's: where the rights came from another account's password, this
// process's registry is that account's, and the first user's is another.
bool HeldByALoggedOnUser(const char* folder)
{
    char keyPath[PathBufferSize];
    char userKey[PathBufferSize];
    char named[PathBufferSize];
    // A user's key is named by the account's security identifier, ASCII.
    char user[MAX_PATH];
    if (!FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName))
        return false;
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof user;
        LONG status = RegEnumKeyExA(HKEY_USERS, i, user, &length, nullptr, nullptr, nullptr, nullptr);
        // A name too long for an identifier is no user's; any other failure ends the list.
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return false;
        if (status == ERROR_SUCCESS && FormatText(userKey, sizeof userKey, "%s\\%s", user, keyPath)
            && ReadRegistryText(HKEY_USERS, userKey, ProductRegistryView(), L"InstallLocation", named, sizeof named)
            && SamePath(named, folder))
            return true;
    }
}

// Whether this product's installation in the other mode lies in the folder:
// that mode's uninstall entry or remembered folder names it, or, for the
// machine, any logged-on user's entry. Only a product that may be installed
// either way has two.
bool HeldByOtherMode(const char* folder)
{
    if (ProductDetails.installFor != InstallForAsk)
        return false;
    InstallMode other = RunMode == MachineMode ? UserMode : MachineMode;
    char named[PathBufferSize];
    char profile[PathBufferSize];
    return (ReadUninstallText(other, L"InstallLocation", named, sizeof named) && SamePath(named, folder))
        || (ProductPlacePath(other, ProfilePlace, profile, sizeof profile)
            && ReadProfileValue(ProfileSection, ProfileKey, "", named, sizeof named, profile) && SamePath(named, folder))
        || (RunMode == MachineMode && HeldByALoggedOnUser(folder));
}

FolderTaken FolderIsTaken(const char* folder)
{
    if (HoldsAnotherProduct(folder))
        return FolderOfAnotherProduct;
    return HeldByOtherMode(folder) ? FolderOfOtherInstallation : FolderFree;
}

// For everyone on the computer: the run goes on in a new process of the
// setup, elevated, with its own backdrop, and the agreement accepted here.
// Where that does not start (the user refused administrator rights), it is
// not installed.
int GoOnElevated()
{
    if (BackdropWindow)
        DestroyWindow(BackdropWindow);
    BackdropWindow = nullptr;
    LogLine("Goes on elevated, in a new process, with %s", ElevatedAnswers);
    // The new process writes the log from here on.
    SuspendLog();
    int exitCode = ExitFailed;
    DWORD error = StartElevated(ElevatedAnswers, &exitCode);
    if (error == ERROR_SUCCESS)
        return exitCode;
    ResumeLog();
    LogLine(error == ERROR_CANCELLED ? "Declined: administrator rights were refused"
                                     : "Failed: the elevated process could not be started (error %d)",
        int(error));
    ShowWarning(nullptr, NotInstalledCaption, NotInstalledText);
    return exitCode;
}

bool HasUninstallEntry(InstallMode mode)
{
    char command[PathBufferSize];
    return ReadUninstallText(mode, L"UninstallString", command, sizeof command);
}

// Asks for whom to install, proposing the mode of an installation that is
// there (the user's first). ExitDone with the choice, or why there is none.
int ChooseForWhom(bool* forMachine)
{
    bool machineProposed = !HasUninstallEntry(UserMode) && HasUninstallEntry(MachineMode);
    switch (RunInstallForDialog(SetupInstance, BackdropWindow, machineProposed, !RunsElevated())) {
    case IDC_INSTALL_FOR_USER:
        LogLine("For: this user alone (chosen)");
        return ExitDone;
    case IDC_INSTALL_FOR_MACHINE:
        LogLine("For: everyone on this computer (chosen)");
        *forMachine = true;
        return ExitDone;
    case 0:
        LogLine("For whom: not chosen");
        return ExitDeclined;
    default:
        LogLine("For whom: the dialog could not be shown");
        return ExitFailed;
    }
}

} // namespace

ModeRequest RequestedMode(const RunSwitches& switches)
{
    switch (ProductDetails.installFor) {
    case InstallForUser:
        return switches.allUsers ? ModeRefused : ForUserRequested;
    case InstallForAsk:
        if (switches.allUsers)
            return ForMachineRequested;
        if (switches.currentUser)
            return ForUserRequested;
        return switches.unattended ? ForMachineRequested : UserAsked;
    default:
        return switches.currentUser ? ModeRefused : ForMachineRequested;
    }
}

bool FolderFitsProduct(const char* folder)
{
    return !BrokenDerivedText(ProductConfig, folder) && PayloadFitsFolder(folder);
}

int SetupSequence(HINSTANCE instance, const RunSwitches& switches)
{
    SetupInstance = instance;
    if (ProductDetails.sixtyFourBit && !IsWindows64Bit()) {
        ShowWarning(nullptr, NeedsWindows64Caption, NeedsWindows64Format, ShownProductName());
        return ExitFailed;
    }
    ModeRequest request = RequestedMode(switches);
    if (request == ModeRefused) {
        ShowWarning(nullptr, ModeRefusedCaption,
            ProductDetails.installFor == InstallForUser ? OnlyForUserFormat : OnlyForMachineFormat, ShownProductName());
        return ExitFailed;
    }
    if (request != UserAsked)
        LogLine(request == ForMachineRequested ? "For: everyone on this computer" : "For: this user alone");
    // A damaged or incomplete download is refused before anything changes. An
    // unattended run does not wait for the whole parts' digests: the
    // extraction checks every byte it uses as it reads it.
    int check = BeginPayloadCheck(!Unattended);
    if (check != PayloadWhole) {
        if (check == PayloadUncheckable)
            ShowWarning(nullptr, DamagedCaption, UncheckableText);
        else
            ReportDamagedPayload(nullptr);
        return ExitFailed;
    }
    RegisterFolderCheck(FolderFitsProduct);
    RegisterFolderTakenCheck(FolderIsTaken);
    RequestInstallFolder(switches.folder);
    // A run that was cut off is undone before anything else, whatever the user
    // then decides: its folder is left as it was before that run. Running
    // copies there are told to quit first: what one holds could not be put back.
    char cutOff[PathBufferSize];
    if (UnsettledJournalFolder(cutOff, sizeof cutOff)) {
        ShowNotice(nullptr, CutOffCaption, CutOffFormat, ShownProductName(), cutOff);
        DealWithRunningCopies(nullptr, cutOff);
    }
    SettleJournal(nullptr, nullptr, nullptr); // result deliberately ignored: the extraction refuses to start over an unsettled journal
    // A journal that cannot be trusted stays whatever the user would decide: said before anything is asked.
    const char* unsettled = "";
    if (UnsettledJournal(&unsettled) == JournalUntrusted) {
        ShowEarlierRunStays(); // result deliberately ignored: it is the untrusted journal's message
        return ExitFailed;
    }

    if (!Unattended && !CreateBackdrop())
        return ExitFailed;
    int outcome = ObtainAgreement(switches.agreed);
    bool forMachine = false;
    if (outcome == ExitDone && request == UserAsked)
        outcome = ChooseForWhom(&forMachine);
    if (forMachine)
        return GoOnElevated();
    // The digests were checked while the agreement was read; nothing is written before they are known.
    if (outcome == ExitDone && !Unattended && !AwaitWholePayload())
        return ExitFailed;
    if (outcome == ExitDone)
        outcome = ChooseFolderWithSpace();
    if (outcome != ExitDone) {
        ShowWarning(BackdropWindow, NotInstalledCaption, NotInstalledText);
        return outcome;
    }

    HWND progress = Unattended ? nullptr : CreateProgressDialog(instance, BackdropWindow, FitProgressDialog);
    DealWithRunningCopies(progress, InstallFolder);
    int result = ExtractPayload(progress, Unattended ? nullptr : ShowProgress);
    // Nothing was written yet: undone at once, so that the folder holds the earlier version while the
    // user closes the program and tries again, or gives up.
    while (result == ExtractFileHeld && !Unattended && RemoveExtractedFiles(nullptr, nullptr) == ExtractDone) {
        // The progress still names the step before the files: the question stands alone.
        ShowWindow(progress, SW_HIDE);
        if (!AskToCloseHeldFile()) {
            ShowWarning(BackdropWindow, NotInstalledCaption, NotInstalledText);
            return ExitDeclined;
        }
        ShowWindow(progress, SW_SHOW);
        result = ExtractPayload(progress, ShowProgress);
    }
    if (result != ExtractDone) {
        // An earlier run's journal that stays kept this one from writing anything.
        if (ShowEarlierRunStays())
            return ExitFailed;
        // Undone at once: while the message waits for the user, the folder holds the earlier version.
        bool restored = RemoveExtractedFiles(nullptr, nullptr) == ExtractDone;
        if (result == ExtractFileHeld)
            ShowFailure(FileHeldFormat, FileHeldOpen());
        else if (result == ExtractPayloadDamaged)
            ReportDamagedPayload(BackdropWindow);
        else
            ShowFailure(ExtractFailureText(result));
        if (!restored)
            ShowFailure(NotRestoredText);
        return ExitFailed;
    }
    if (progress)
        DestroyWindow(progress);

    // Its files stay: what was replaced is gone, and the next run can register it.
    if (!RegisterWithShell()) {
        ShowFailure(NotRegisteredText);
        return ExitFailed;
    }
    ReportWhatWaits();

    // Until the restart, a held file of the earlier version would run with the new ones: no start is offered.
    if (FilesReplacedAtRestart() == 0
        && AskYesNo(BackdropWindow, false, SuccessCaption, SuccessFormat, ShownProductName(), ShownProductName()))
        LaunchApplication(BackdropWindow, BackdropFont);
    if (Unattended && StepFailed) {
        LogLine("Failed: a step asked for could not be done (see the warnings above)");
        return ExitFailed;
    }
    return FilesAwaitingRestart() ? ExitRestartNeeded : ExitDone;
}
