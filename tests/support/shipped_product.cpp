// The shipped product's records, for test programs that check them: read as
// the test program starts from the section the packer wrote into the
// packaged setup, mapped as an image, as the setup reads its own.
#include <windows.h>
#include "archive.h"
#include "product_data.h"
#include <stdio.h>
#include <stdlib.h>

namespace {

struct ShippedProduct {
    ShippedProduct()
    {
        HMODULE setup = LoadLibraryExW(SHIPPED_SETUP, nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (!setup || !ReadSetupSection(setup, SliceInflater, false, nullptr)) {
            fprintf(stderr, "the shipped product's records cannot be read from %ls\n", SHIPPED_SETUP);
            exit(1);
        }
    }
};
const ShippedProduct Shipped;

} // namespace
