// The product written into this program: its records (product.h, language.h,
// archive.h, uninstall.h) read in place from the section the packer added to
// the program's image (product_section.h), before anything uses them. Every
// offset and count is checked against the section's bounds, and every text
// against its end: a section that does not hold is refused, as the
// download it came in is damaged.
#pragma once
#include <windows.h>
#include "archive.h"
#include "language.h"

// The setup's records and archive, from the section of module (the running
// program, or one mapped as an image), whose payload the unpacker given
// unpacks: slices, or (solid) the blocks of one stream; spoken is the code
// the program carries to speak other languages than English (null: none).
// False when the section is missing, is not a setup's, holds another kind of
// payload or other languages than the program speaks, or any offset, count or
// text lies outside it.
bool ReadSetupSection(HMODULE module, const PayloadUnpacker& unpacker, bool solid, const LanguageCode* spoken);
// The uninstaller's records and names, alike.
bool ReadUninstallerSection(HMODULE module, const LanguageCode* spoken);
