// Every text the run derives from the installation folder (paths, command
// lines, Program Manager commands), each with the buffer it must fit. A folder
// is accepted only when all of them fit; the packer refuses a product for which
// even a short folder would not. Plain C++, no Win32.
#pragma once
#include "product_record.h"
#include <stddef.h>

typedef bool (*DerivedTextBuilder)(const ProductConfigRecord& product, const char* folder, char* out, size_t size);

struct DerivedTextRule {
    const char* fields; // the configuration fields the text grows with, the first the main one
    const char* text;   // what the text is
    size_t size;        // the buffer it must fit, terminating zero included
    DerivedTextBuilder build;
};

// The first rule whose text does not fit for this folder; null when all fit.
const DerivedTextRule* BrokenDerivedText(const ProductConfigRecord& product, const char* folder);

// The three paths the shell steps use. False when the text would not fit.
bool BuildApplicationPath(const ProductConfigRecord& product, const char* folder, char* out, size_t size);
bool BuildStartupCommand(const ProductConfigRecord& product, const char* folder, char* out, size_t size);
bool BuildUninstallerPath(const ProductConfigRecord& product, const char* folder, char* out, size_t size);
