#include "record.h"
#include "code_page.h"
#include "commands.h"
#include "file_system.h"
#include "lines.h"
#include "names.h"
#include "payload.h"
#include "product.h"
#include "run.h"
#include "schedule.h"
#include "text.h"
#include <stdlib.h>

namespace {

constexpr size_t WriteBufferSize = 32768;

// Lines go out through a fixed buffer, written whole when it fills.
struct RecordWriter {
    HANDLE file;
    char buffer[WriteBufferSize];
    size_t used;
    bool failed;
};

void Flush(RecordWriter& writer)
{
    DWORD written = 0;
    if (writer.used && (!WriteFile(writer.file, writer.buffer, DWORD(writer.used), &written, nullptr)
                           || written != writer.used))
        writer.failed = true;
    writer.used = 0;
}

void WriteName(RecordWriter& writer, const char* name)
{
    size_t length = TextLength(name);
    if (writer.used + length + 2 > sizeof writer.buffer)
        Flush(writer);
    for (size_t i = 0; i < length; ++i)
        writer.buffer[writer.used++] = name[i];
    writer.buffer[writer.used++] = '\r';
    writer.buffer[writer.used++] = '\n';
}

// What the earlier record named and this run did not write again, and the
// links it names; a line that names no file as the packer may is passed over.
// An earlier build wrote the names in the system's code page: they are
// written again in this one's.
bool CopyEarlierNames(RecordWriter& writer, const char* earlier, const WCHAR* within, const WrittenNames& names)
{
    LineReader reader;
    if (!OpenLines(reader, earlier, within))
        return false;
    char name[PathBufferSize];
    for (LineResult result; (result = NextLine(reader, name, sizeof name)) != LineEnded;)
        if (result != LineTooLong && ReadStoredText(name, sizeof name)
            && (RecordedLinkPath(name) || (!StoredNameProblem(name) && !IsWrittenName(names, name))))
            WriteName(writer, name);
    CloseLines(reader);
    return true;
}

// A deletion that would take the installation folder, a file this run wrote,
// or a folder that holds one: its path resolved now as the boot resolves it
// (links and junctions on the way followed, the last name itself not), and
// compared with the installation's final path, however either is spelled (a
// short name, a link, a substituted drive). A path that leads nowhere now
// takes none of the files this run wrote.
bool ForgetsDeletion(const WCHAR* deletion, const WCHAR* folderFinal, const WrittenNames& names)
{
    HANDLE target = CreateFileW(deletion, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return false;
    WCHAR final[FinalPathSize];
    FILE_BASIC_INFO basic = {};
    bool resolved = FinalPathOf(target, final, FinalPathSize)
        && GetFileInformationByHandleEx(target, FileBasicInfo, &basic, sizeof basic);
    CloseHandle(target);
    if (!resolved || !FinalPathIsWithin(final, folderFinal))
        return false;
    const WCHAR* below = final + lstrlenW(folderFinal);
    below += *below == L'\\' ? 1 : 0;
    if (!below[0])
        return true;
    char relative[PathBufferSize];
    // A name the process's code page cannot spell is none of the payload's.
    if (!NarrowText(below, relative, sizeof relative))
        return false;
    if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return HoldsPathBelow(names.sorted, names.count, relative);
    return IsWrittenName(names, relative);
}

} // namespace

bool SortWrittenNames(WrittenNames& names, const PayloadArchiveTables& archive, const unsigned char* written)
{
    names.archive = &archive;
    names.count = 0;
    names.sorted = static_cast<const char**>(malloc(sizeof(char*) * size_t(archive.fileCount ? archive.fileCount : 1)));
    if (!names.sorted)
        return false;
    for (int i = 0; i < archive.fileCount; ++i)
        if (written[i])
            names.sorted[names.count++] = archive.fileNames[i];
    SortPaths(names.sorted, names.count);
    return true;
}

bool IsWrittenName(const WrittenNames& names, const char* name)
{
    return HoldsPath(names.sorted, names.count, name);
}

void FreeWrittenNames(WrittenNames& names)
{
    free(names.sorted);
    names.sorted = nullptr;
}

int WriteInstallRecord(HANDLE file, const WCHAR* within, const WrittenNames& names)
{
    RecordWriter* writer = static_cast<RecordWriter*>(malloc(sizeof(RecordWriter)));
    if (!writer)
        return ExtractOutOfMemory;
    writer->file = file;
    writer->used = 0;
    writer->failed = false;
    char product[PathBufferSize];
    if (FormatText(product, sizeof product, "%s%s", RecordedProductPrefix, ProductConfig.displayName))
        WriteName(*writer, product);
    else
        writer->failed = true;
    // An earlier record that cannot be read would lose what earlier versions wrote.
    if (GetFileAttributesA(InstallRecordName) != INVALID_FILE_ATTRIBUTES
        && !CopyEarlierNames(*writer, InstallRecordName, within, names))
        writer->failed = true;
    for (int i = 0; i < names.archive->fileCount; ++i)
        if (IsWrittenName(names, names.archive->fileNames[i]))
            WriteName(*writer, names.archive->fileNames[i]);
    Flush(*writer);
    bool whole = !writer->failed;
    free(writer);
    return whole ? ExtractDone : ExtractWriteFailed;
}

bool RecordLink(const char* folder, const char* linkPath)
{
    char record[PathBufferSize];
    char line[PathBufferSize];
    WCHAR folderFinal[FinalPathSize];
    if (!FormatFolderFile(record, sizeof record, folder, InstallRecordName)
        || !FormatText(line, sizeof line, "%s%s", RecordedLinkPrefix, linkPath)
        || !FinalFolderPath(folder, folderFinal, FinalPathSize))
        return false;
    LineReader reader;
    if (!OpenLines(reader, record, folderFinal))
        return false;
    char recorded[PathBufferSize];
    bool known = false;
    for (LineResult result; !known && (result = NextLine(reader, recorded, sizeof recorded)) != LineEnded;)
        known = result != LineTooLong && SamePathText(recorded, line);
    CloseLines(reader);
    if (known)
        return true;
    HANDLE file;
    if (OpenFileWithin(record, FILE_APPEND_DATA, folderFinal, &file) != OpenedFile)
        return false;
    DWORD written = 0;
    bool appended = AppendText(line, sizeof line, "\r\n")
        && WriteFile(file, line, DWORD(TextLength(line)), &written, nullptr) && written == TextLength(line)
        && FlushFileBuffers(file);
    CloseHandle(file);
    return appended;
}

bool HoldsAnotherProduct(const char* folder)
{
    char record[PathBufferSize];
    WCHAR folderFinal[FinalPathSize];
    LineReader reader;
    // No record, no installation; one that cannot be read fails the extraction, which must keep what it names.
    if (!FormatFolderFile(record, sizeof record, folder, InstallRecordName)
        || !FinalFolderPath(folder, folderFinal, FinalPathSize) || !OpenLines(reader, record, folderFinal))
        return false;
    char line[PathBufferSize];
    const char* product = nullptr;
    bool namesMainProgram = false;
    for (LineResult result; !product && (result = NextLine(reader, line, sizeof line)) != LineEnded;) {
        if (result == LineTooLong || !ReadStoredText(line, sizeof line))
            continue;
        product = RecordedProductName(line);
        namesMainProgram = namesMainProgram || SamePathText(line, ProductConfig.mainExecutable);
    }
    CloseLines(reader);
    // Named as the registry names the uninstall entry's key: ordinally, ignoring case.
    if (product && SamePathText(product, ProductConfig.displayName))
        return false;
    if (product)
        LogLine("Folder: it holds an installation of another product, %s, which its %s names", product,
            InstallRecordName);
    else if (!namesMainProgram)
        LogLine("Folder: it holds an installation of another product: its %s, an earlier build's, names no %s",
            InstallRecordName, ProductConfig.mainExecutable);
    return product || !namesMainProgram;
}

namespace {

struct ForgottenDeletions {
    const WCHAR* folderFinal;
    const WrittenNames* names;
};

bool ForgetsScheduledDeletion(const WCHAR* source, const WCHAR* target, const void* context)
{
    const ForgottenDeletions& forgotten = *static_cast<const ForgottenDeletions*>(context);
    const WCHAR* deletion = target[0] ? nullptr : ScheduledPath(source);
    return deletion && ForgetsDeletion(deletion, forgotten.folderFinal, *forgotten.names);
}

} // namespace

void ForgetPendingDeletions(const char* folder, const WrittenNames& names)
{
    WCHAR folderFinal[FinalPathSize];
    if (!FinalFolderPath(folder, folderFinal, FinalPathSize))
        return;
    const ForgottenDeletions forgotten = {folderFinal, &names};
    RewriteRestartSchedule(ForgetsScheduledDeletion, &forgotten); // result deliberately ignored: a deletion left scheduled only repeats the old fault
}
