#include "shell.h"

const char ProgmanServiceName[] = "PROGMAN";
