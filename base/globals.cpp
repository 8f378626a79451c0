#include "globals.h"

char InstallFolder[PathBufferSize];
char ApplicationPath[PathBufferSize];
char StartupCommand[PathBufferSize];
char UninstallerPath[PathBufferSize];
