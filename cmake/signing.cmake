# Code signing, switched on when the build is given a certificate and its key:
# a PKCS#12 file, or a certificate and a key in PEM files. Each setting is a
# CMake option or, when that is not given, an environment variable of the same
# name read when the build is configured. The key's password is read when the
# programs are signed, from SETUP_SIGN_PASSWORD_FILE or the environment
# variable SETUP_SIGN_PASSWORD, and is never kept in the build's cache.
foreach(setting SETUP_SIGN_PKCS12 SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD_FILE)
    set(${setting} "$ENV{${setting}}" CACHE FILEPATH "Code signing: see the README")
endforeach()
set(SETUP_SIGN_TIMESTAMP_URL "$ENV{SETUP_SIGN_TIMESTAMP_URL}" CACHE STRING "Code signing: a time-stamping server")

set(SIGNING OFF)
if(SETUP_SIGN_PKCS12 AND (SETUP_SIGN_CERT OR SETUP_SIGN_KEY))
    message(FATAL_ERROR "Sign with SETUP_SIGN_PKCS12, or with SETUP_SIGN_CERT and SETUP_SIGN_KEY, not both")
elseif(SETUP_SIGN_PKCS12)
    set(SIGNING ON)
elseif(SETUP_SIGN_CERT OR SETUP_SIGN_KEY)
    if(NOT (SETUP_SIGN_CERT AND SETUP_SIGN_KEY))
        message(FATAL_ERROR "SETUP_SIGN_CERT and SETUP_SIGN_KEY go together")
    endif()
    set(SIGNING ON)
endif()
if(SIGNING)
    foreach(file SETUP_SIGN_PKCS12 SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD_FILE)
        if(${file} AND NOT EXISTS ${${file}})
            message(FATAL_ERROR "${file}: ${${file}} does not exist")
        endif()
    endforeach()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    message(STATUS "Signing the setup program and its uninstaller")
endif()

# Where a program is linked: beside its final place when it is signed there.
function(program_link_folder final_folder result)
    if(SIGNING)
        set(${result} ${final_folder}/unsigned PARENT_SCOPE)
    else()
        set(${result} ${final_folder} PARENT_SCOPE)
    endif()
endfunction()

# The rule that makes the final program `final` from the linked `target`:
# signed when signing is on, the linked file itself otherwise.
function(final_program target final)
    if(NOT SIGNING)
        return()
    endif()
    get_filename_component(name ${final} NAME_WE)
    set(work ${CMAKE_BINARY_DIR}/signing/${name})
    file(MAKE_DIRECTORY ${work})
    add_custom_command(OUTPUT ${final}
        COMMAND ${CMAKE_COMMAND} -DIN=$<TARGET_FILE:${target}> -DOUT=${final}
            -DDESCRIPTION_FILE=${GENERATED_DIR}/product_signing.cmake -DPKCS12=${SETUP_SIGN_PKCS12}
            -DCERT=${SETUP_SIGN_CERT} -DKEY=${SETUP_SIGN_KEY} -DPASSWORD_FILE=${SETUP_SIGN_PASSWORD_FILE}
            -DTIMESTAMP_URL=${SETUP_SIGN_TIMESTAMP_URL} -DWORK=${work} -P ${CMAKE_SOURCE_DIR}/cmake/sign.cmake
        DEPENDS ${target} $<TARGET_FILE:${target}> ${GENERATED_DIR}/product_signing.cmake
            ${CMAKE_SOURCE_DIR}/cmake/sign.cmake ${SETUP_SIGN_PKCS12} ${SETUP_SIGN_CERT} ${SETUP_SIGN_KEY}
        COMMENT "Signing ${final}")
endfunction()
