#include "commands.h"

const char ProgmanServiceName[] = "PROGMAN";
