#include "test_config.h"

ProductConfigRecord ProductConfig = ShippedConfig();
const char* AgreementText = "Agreement";
ProductDetailsRecord ProductDetails = {"", "", 0, 0};
extern const uint32_t ProductCodePage = 1252;

ProductConfigRecord ShippedConfig()
{
    return {"Pelmora", "Pelmora", "pelmora.ini", 1,
        "This application is much more useful if it can receive images for you at all times. In order to do this, "
        "it must  be installed in your startup folder. Do you want Pelmora  to be installed in your startup folder?",
        "pelmora.exe", "-icon", 0, 1, 0, "", "", 0};
}
