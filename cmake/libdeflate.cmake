# libdeflate's zlib decompressor and its Adler-32, cross-built from Debian's
# source package of the very libdeflate the packer links: Debian ships the
# library only for Linux. tools/bootstrap fetches the source into .cache/.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE host_architecture
    OUTPUT_STRIP_TRAILING_WHITESPACE)
# The build machine's own architecture's: libdeflate-dev is multi-arch.
execute_process(COMMAND dpkg-query -W [[--showformat=${Version}]] libdeflate-dev:${host_architecture}
    OUTPUT_VARIABLE LIBDEFLATE_VERSION RESULT_VARIABLE status)
set(LIBDEFLATE_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.cache/libdeflate-${LIBDEFLATE_VERSION})
if(NOT status EQUAL 0 OR NOT EXISTS ${LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c)
    message(FATAL_ERROR "No source of libdeflate ${LIBDEFLATE_VERSION} in ${LIBDEFLATE_SOURCE_DIR}: run tools/bootstrap")
endif()
# A source that goes, or a libdeflate-dev that changes, configures the build again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c
    /var/lib/dpkg/status)

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

# The journal's Adler-32 alone, for the uninstaller, whose size is fixed: the
# portable loop, without the vector forms and the processor check, which the
# setup's inflation of whole files wants and a journal's short records do not.
# Undefining the processor's macro is how libdeflate's source chooses it.
add_library(adler32_portable STATIC ${LIBDEFLATE_SOURCE_DIR}/lib/adler32.c)
target_include_directories(adler32_portable SYSTEM PRIVATE ${LIBDEFLATE_SOURCE_DIR})
setup_shipped_code(adler32_portable)
target_compile_options(adler32_portable PRIVATE -U__i386__ -U__x86_64__)
