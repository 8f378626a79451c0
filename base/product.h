// The compiled-in product: the one record that makes this program the setup of
// one product, and its licence text. Both are generated from the product's
// manifest; a test program may link other values.
#pragma once

#include "product_record.h"

extern const ProductConfigRecord ProductConfig;
extern const char AgreementText[];

extern const ProductDetailsRecord ProductDetails;
// The Windows ANSI code page of every product text (1252 unless the manifest names another).
extern const uint32_t ProductCodePage;

// Fixed file names of the product's uninstaller and agent service.
constexpr const char UninstallerFileName[] = "pmuninst.exe";
constexpr const char AgentServiceFileName[] = "pmagent.exe";

// Where the profile file remembers the installation folder.
constexpr const char ProfileSection[] = "Options";
constexpr const char ProfileKey[] = "dataDir";
