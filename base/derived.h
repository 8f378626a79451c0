// Texts derived from the installation folder (paths, command lines, messages)
// each go into a fixed buffer. Before a folder is accepted, every builder the
// run will use is tried on it, so no step later finds its text too long.
#pragma once
#include <stddef.h>

typedef bool (*DerivedTextBuilder)(const char* folder, char* out, size_t size);

struct DerivedText {
    DerivedTextBuilder build;
    size_t size;
};

// The table stays owned by the caller and must outlive the run.
void RegisterDerivedTexts(const DerivedText* texts, int count);
bool DerivedTextsFit(const char* folder);
