#include "archive.h"

const PayloadArchiveTables PayloadArchive = {0, nullptr, nullptr, nullptr, nullptr, nullptr};
