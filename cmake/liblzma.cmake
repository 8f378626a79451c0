# liblzma's decoder of one xz block (LZMA2 behind the x86 branch filter, with
# its CRC32 check), cross-built from Debian's source package of the very
# liblzma the packer links, for the setups of products packed with
# `compression = lzma`: only those reference it, so only they link it.
# tools/bootstrap fetches the source into .cache/.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE lzma_host_architecture
    OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND dpkg-query -W [[--showformat=${Version}]] liblzma-dev:${lzma_host_architecture}
    OUTPUT_VARIABLE LIBLZMA_VERSION RESULT_VARIABLE status)
set(LIBLZMA_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.cache/xz-utils-${LIBLZMA_VERSION})
set(lzma ${LIBLZMA_SOURCE_DIR}/src/liblzma)
if(NOT status EQUAL 0 OR NOT EXISTS ${lzma}/lzma/lzma2_decoder.c)
    message(FATAL_ERROR "No source of xz-utils ${LIBLZMA_VERSION} in ${LIBLZMA_SOURCE_DIR}: run tools/bootstrap")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lzma}/lzma/lzma2_decoder.c /var/lib/dpkg/status)

add_library(lzma_block_decoder STATIC
    ${lzma}/common/common.c ${lzma}/common/block_decoder.c ${lzma}/common/block_header_decoder.c
    ${lzma}/common/block_buffer_decoder.c ${lzma}/common/block_util.c ${lzma}/common/filter_common.c
    ${lzma}/common/filter_decoder.c ${lzma}/common/filter_flags_decoder.c ${lzma}/common/vli_decoder.c
    ${lzma}/common/vli_size.c ${lzma}/check/check.c ${lzma}/check/crc32_small.c ${lzma}/lz/lz_decoder.c
    ${lzma}/lzma/lzma_decoder.c ${lzma}/lzma/lzma2_decoder.c ${lzma}/simple/simple_coder.c
    ${lzma}/simple/simple_decoder.c ${lzma}/simple/x86.c)
target_include_directories(lzma_block_decoder SYSTEM PUBLIC ${lzma}/api)
target_include_directories(lzma_block_decoder PRIVATE ${lzma}/common ${lzma}/check ${lzma}/lz ${lzma}/rangecoder
    ${lzma}/lzma ${lzma}/delta ${lzma}/simple ${LIBLZMA_SOURCE_DIR}/src/common)
# The decoders alone, and of the checks only CRC32, whose table the small form
# computes on first use rather than carrying 8 KB of it. Built without
# threads, that first use is not guarded (this version's guard for Windows
# threads does not compile): the unpacker makes it before it starts its own.
target_compile_definitions(lzma_block_decoder PUBLIC LZMA_API_STATIC PRIVATE HAVE_DECODERS HAVE_DECODER_LZMA1
    HAVE_DECODER_LZMA2 HAVE_DECODER_X86 HAVE_CHECK_CRC32 HAVE_SMALL HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H
    HAVE_INTTYPES_H NDEBUG)
setup_shipped_code(lzma_block_decoder)
target_compile_options(lzma_block_decoder PRIVATE -w)
