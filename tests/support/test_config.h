// A writable product configuration for test programs that link the
// subsystems without the generated product: each test sets what it needs.
#pragma once
#include "product_record.h"

extern ProductConfigRecord ProductConfig;
extern ProductDetailsRecord ProductDetails;
// The values the shipped product has.
ProductConfigRecord ShippedConfig();
