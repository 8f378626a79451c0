// The installation record: every file the setup wrote, in a text file of the
// installation folder (InstallRecordName), one stored name per line. An update
// adds to it and never drops from it, so the uninstaller removes exactly what
// any version wrote, and nothing the setup skipped.
#pragma once
#include "archive.h"
#include "journal.h"

// The names one run wrote, in the order the file system compares them.
struct WrittenNames {
    const PayloadArchiveTables* archive;
    const char** sorted; // the archive's names of the written files
    int count;
};
// False when there is no memory for the list.
bool SortWrittenNames(WrittenNames& names, const PayloadArchiveTables& archive, const unsigned char* written);
bool IsWrittenName(const WrittenNames& names, const char* name);
void FreeWrittenNames(WrittenNames& names);

// Writes the record anew into the open file: what the earlier record in the
// folder (the current directory, whose final path is within) named, as far as
// it names files as the packer may, and what this run wrote.
int WriteInstallRecord(HANDLE file, const WCHAR* within, const WrittenNames& names);
// Takes out of the restart's schedule the deletions an earlier uninstall left
// for the files this run wrote in the folder, for the folders that hold them
// and for the folder itself, by where their paths lead now, however spelled.
void ForgetPendingDeletions(const char* folder, const WrittenNames& names);
