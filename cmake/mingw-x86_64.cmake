# Cross toolchain for a 64-bit build of the same sources, under Wine's 64-bit
# loader: the test build of machines that cannot execute 32-bit code (see
# tools/test). The shipped programs are the 32-bit ones (mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
