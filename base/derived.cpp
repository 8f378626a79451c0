#include "derived.h"
#include "globals.h"

namespace {
const DerivedText* RegisteredTexts;
int RegisteredCount;
}

void RegisterDerivedTexts(const DerivedText* texts, int count)
{
    RegisteredTexts = texts;
    RegisteredCount = count;
}

bool DerivedTextsFit(const char* folder)
{
    char scratch[PathBufferSize * 2];
    for (int i = 0; i < RegisteredCount; ++i) {
        size_t size = RegisteredTexts[i].size;
        if (size > sizeof scratch || !RegisteredTexts[i].build(folder, scratch, size))
            return false;
    }
    return true;
}
