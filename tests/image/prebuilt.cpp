// The prebuilt program of the image test: started after it is written, it
// finds the added section through its own headers and checks its bytes.
// Exit code 0: found and whole; 2: no such section; 3: other bytes.
#include "written_program.h"
#include <windows.h>
#include <string.h>

int main()
{
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD k = 0; k < nt->FileHeader.NumberOfSections; ++k, ++section) {
        if (memcmp(section->Name, written::SectionName, sizeof section->Name) != 0)
            continue;
        if (section->Misc.VirtualSize != written::SectionSize)
            return 3;
        const unsigned char* bytes = base + section->VirtualAddress;
        for (size_t at = 0; at < written::SectionSize; ++at)
            if (bytes[at] != written::SectionByte(at))
                return 3;
        return 0;
    }
    return 2;
}
