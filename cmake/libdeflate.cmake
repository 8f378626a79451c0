# libdeflate's zlib decompressor and its Adler-32, cross-built from Debian's
# source package of the very libdeflate the packer links: Debian ships the
# library only for Linux. tools/bootstrap fetches the source into .cache/.
execute_process(COMMAND dpkg-query -W [[--showformat=${Version}]] libdeflate-dev
    OUTPUT_VARIABLE LIBDEFLATE_VERSION RESULT_VARIABLE status)
set(LIBDEFLATE_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.cache/libdeflate-${LIBDEFLATE_VERSION})
if(NOT status EQUAL 0 OR NOT EXISTS ${LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c)
    message(FATAL_ERROR "No source of libdeflate ${LIBDEFLATE_VERSION} in ${LIBDEFLATE_SOURCE_DIR}: run tools/bootstrap")
endif()

add_library(deflate_decompress STATIC
    ${LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/zlib_decompress.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/adler32.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/utils.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/x86/cpu_features.c)
target_include_directories(deflate_decompress SYSTEM PUBLIC ${LIBDEFLATE_SOURCE_DIR})
setup_shipped_code(deflate_decompress)
# Its own build warns with -Wall alone.
target_compile_options(deflate_decompress PRIVATE -Wno-sign-compare -Wno-unused-parameter)
