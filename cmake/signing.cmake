# Code signing, switched on by a certificate and its key: a PKCS#12 file, or a
# certificate and a key in PEM files. Every build reads each setting from the
# environment variable of its name or, when that is not set, from the CMake
# option of the same name (cmake/sign.cmake), so a build signs with what it is
# given now. The key's password is read from the environment only, when the
# programs are signed: the build's cache would keep an option in plain text.
if(DEFINED CACHE{SETUP_SIGN_PASSWORD})
    unset(SETUP_SIGN_PASSWORD CACHE)
    message(FATAL_ERROR "SETUP_SIGN_PASSWORD is not a CMake option, since the build's cache would keep it in "
        "plain text: give the password in the environment variable SETUP_SIGN_PASSWORD, or the path of a file "
        "that holds it in SETUP_SIGN_PASSWORD_FILE")
endif()
foreach(setting SETUP_SIGN_PKCS12 SETUP_SIGN_CERT SETUP_SIGN_KEY SETUP_SIGN_PASSWORD_FILE)
    set(${setting} "" CACHE FILEPATH "Code signing, unless the environment variable of this name is set: see docs/signing.md")
endforeach()
set(SETUP_SIGN_TIMESTAMP_URL "" CACHE STRING "Code signing: a time-stamping server, unless the environment names one")
find_program(OSSLSIGNCODE osslsigncode)
find_program(OPENSSL openssl)
set(SIGNING_SETTINGS ${CMAKE_BINARY_DIR}/signing/settings.cmake)

# The step that runs at every build and touches the settings file only when
# the settings changed. A change removes the programs (the files given), so
# that they are linked and signed again, and a build that cannot sign them
# leaves none of them behind.
function(signing_settings)
    set(programs)
    set(index 0)
    foreach(program ${ARGN})
        math(EXPR index "${index} + 1")
        list(APPEND programs "-DPROGRAM_${index}=${program}")
    endforeach()
    add_custom_target(signing_settings
        COMMAND ${CMAKE_COMMAND} "-DSETTINGS=${SIGNING_SETTINGS}" "-DPKCS12=${SETUP_SIGN_PKCS12}"
            "-DCERT=${SETUP_SIGN_CERT}" "-DKEY=${SETUP_SIGN_KEY}" "-DPASSWORD_FILE=${SETUP_SIGN_PASSWORD_FILE}"
            "-DTIMESTAMP_URL=${SETUP_SIGN_TIMESTAMP_URL}" "-DOSSLSIGNCODE=${OSSLSIGNCODE}" "-DOPENSSL=${OPENSSL}"
            ${programs} -P ${CMAKE_SOURCE_DIR}/cmake/sign.cmake
        BYPRODUCTS ${SIGNING_SETTINGS}
        COMMENT "Reading the signing settings"
        VERBATIM)
endfunction()

# Signs the target's program in place right after it is linked, so that
# whatever reads the program's file reads it signed; without a certificate it
# stays byte for byte as it was linked. Called in the target's own folder.
function(sign_program target)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
        ${SIGNING_SETTINGS} ${GENERATED_DIR}/product_signing.cmake ${CMAKE_SOURCE_DIR}/cmake/sign.cmake)
    add_dependencies(${target} signing_settings)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} "-DSETTINGS=${SIGNING_SETTINGS}" "-DPROGRAM=$<TARGET_FILE:${target}>"
            "-DDESCRIPTION_FILE=${GENERATED_DIR}/product_signing.cmake" -P ${CMAKE_SOURCE_DIR}/cmake/sign.cmake
        VERBATIM)
endfunction()
