#include "derived.h"

namespace {
FolderCheck RegisteredCheck;
}

void RegisterFolderCheck(FolderCheck check)
{
    RegisteredCheck = check;
}

bool DerivedTextsFit(const char* folder)
{
    return !RegisteredCheck || RegisteredCheck(folder);
}
