// The uninstaller: removes what the setup of its product did, from the folder
// it stands in, once it has made sure that folder is an installation of its
// product. Built for each product from the same manifest as the setup.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "product_record.h"
#include "run.h"

extern UninstallTables UninstallPayload;
// The tables as the run uses them: the compiled-in ones, or a copy whose
// names are held in the process's code page (see code_page.h).
extern const UninstallTables* UninstallNames;
// False when a name cannot be held.
bool HoldUninstallNames();

// The language the setup spoke, as the record in this program's folder names
// it; empty when it names none.
void ReadRecordedLanguage(char* name, size_t size);

// Finds the folder this program stands in, and whether it is the
// installation for everyone on the computer of a product that may be
// installed either way (the other: one user's own).
bool UninstallWantsMachine(const RunSwitches& switches);
// The whole removal, in its order; returns the run's exit code.
int UninstallSequence(HINSTANCE instance);
