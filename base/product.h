// The product: the one record that makes this program the setup of one
// product, and its licence text. The packer writes both into the program from
// the product's manifest, their texts in UTF-8, and the program reads them as
// it starts (product_data.h); a test program may link other values. The
// records are written only once, at start, where Windows does not give the
// programs UTF-8: their texts are then held in its code page (code_page.h).
#pragma once

#include "product_record.h"

extern ProductConfigRecord ProductConfig;
extern const char* AgreementText;

extern ProductDetailsRecord ProductDetails;
// The Windows code page the product's texts are meant to fit on a Windows
// without the UTF-8 process code page (1252 unless the manifest names
// another): the backdrop's title takes its character set.
extern uint32_t ProductCodePage;

// Fixed file names of the product's uninstaller and agent service.
constexpr const char UninstallerFileName[] = "pmuninst.exe";
constexpr const char AgentServiceFileName[] = "pmagent.exe";

// Where the profile file remembers the installation folder.
constexpr const char ProfileSection[] = "Options";
constexpr const char ProfileKey[] = "dataDir";
