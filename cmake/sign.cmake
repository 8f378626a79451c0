# Code signing of a program, in two steps run by tools/sign-program:
#
#   cmake -DSETTINGS=settings.cmake -DOSSLSIGNCODE=... -DOPENSSL=... -P sign.cmake
# takes each setting from the environment variable SETUP_SIGN_<name>, checks
# them, and writes them to SETTINGS (never the password).
#
#   cmake -DSETTINGS=settings.cmake -DPROGRAM=program.exe -P sign.cmake
# signs PROGRAM in place with osslsigncode (Authenticode) when SETTINGS name a
# certificate, and leaves it as it is otherwise, described by the product's
# name and address in PMPACK_PRODUCT_NAME and PMPACK_PRODUCT_URL. The key's password comes
# from the file SETUP_SIGN_PASSWORD_FILE names or the environment variable
# SETUP_SIGN_PASSWORD and reaches the tools on their standard input.
# SOURCE_DATE_EPOCH fixes the signing time. The signed program appears under
# its name only whole and checked: a failure leaves no file there.
#
#   cmake -DPROGRAM=program.exe -P sign.cmake
# removes what a signing of PROGRAM stopped midway left beside it.

cmake_minimum_required(VERSION 3.25)

# A bracket argument that holds `value` as it is, whatever its text: CMake
# lists would split a value at a ';' and join values across an unmatched '['.
function(bracket_argument result value)
    string(LENGTH "${value}" length)
    set(fence "")
    string(FIND "${value}]]" "]]" end)
    while(NOT end EQUAL length)
        string(APPEND fence "=")
        string(FIND "${value}]${fence}]" "]${fence}]" end)
    endwhile()
    set(${result} "[${fence}[${value}]${fence}]" PARENT_SCOPE)
endfunction()

# Appends the arguments after the first to the command line in the variable it names.
function(append_arguments line)
    set(text "${${line}}")
    math(EXPR last "${ARGC} - 1")
    foreach(index RANGE 1 ${last})
        bracket_argument(argument "${ARGV${index}}")
        string(APPEND text " ${argument}")
    endforeach()
    set(${line} "${text}" PARENT_SCOPE)
endfunction()

if(NOT DEFINED PROGRAM)
    set(content "# The signing settings, from the environment. No password.\n")
    macro(record name value)
        bracket_argument(quoted "${value}")
        string(APPEND content "set(SIGN_${name} ${quoted})\n")
    endmacro()
    foreach(name PKCS12 CERT KEY PASSWORD_FILE TIMESTAMP_URL)
        set(${name} "$ENV{SETUP_SIGN_${name}}")
        if(NOT name STREQUAL "TIMESTAMP_URL" AND NOT "${${name}}" STREQUAL "")
            get_filename_component(${name} "${${name}}" ABSOLUTE)
            if(NOT EXISTS "${${name}}")
                message(FATAL_ERROR "SETUP_SIGN_${name}: ${${name}} does not exist")
            endif()
        endif()
        record(${name} "${${name}}")
    endforeach()
    if(PKCS12 AND (CERT OR KEY))
        message(FATAL_ERROR "Sign with SETUP_SIGN_PKCS12, or with SETUP_SIGN_CERT and SETUP_SIGN_KEY, not both")
    elseif(CERT OR KEY)
        if(NOT (CERT AND KEY))
            message(FATAL_ERROR "SETUP_SIGN_CERT and SETUP_SIGN_KEY go together")
        endif()
    endif()
    if(PKCS12 OR CERT)
        foreach(tool OSSLSIGNCODE OPENSSL)
            if(NOT ${tool})
                string(TOLOWER ${tool} name)
                message(FATAL_ERROR "Signing needs ${name}, which is not on the PATH")
            endif()
            record(${tool} "${${tool}}")
        endforeach()
        record(TIME "$ENV{SOURCE_DATE_EPOCH}")
        record(ON "1")
    endif()
    file(WRITE "${SETTINGS}" "${content}")
    return()
endif()

set(unsigned "${PROGRAM}.unsigned")
set(signing "${PROGRAM}.signing")
set(extracted "${PROGRAM}.certificate.pem")
# What an interrupted signing left beside the program goes first.
file(REMOVE "${signing}" "${unsigned}" "${extracted}")
if(NOT DEFINED SETTINGS)
    return()
endif()
include("${SETTINGS}")
if(NOT SIGN_ON)
    return()
endif()

# The tools' own words go out as they are; CMake would reflow an error's text.
function(fail message)
    file(REMOVE "${unsigned}" "${signing}" "${extracted}")
    message(NOTICE "Signing ${PROGRAM} failed: ${message}")
    message(FATAL_ERROR "${PROGRAM} was not signed")
endfunction()

# The password goes to a tool on its standard input, from its file or from
# the environment through a pipe: never to disk, never on a command line.
# Without one a tool is told so, and no tool reads the terminal.
set(password_given ON)
set(password_input "")
set(password_pipe "")
if(SIGN_PASSWORD_FILE)
    bracket_argument(quoted "${SIGN_PASSWORD_FILE}")
    set(password_input "INPUT_FILE ${quoted}")
elseif(NOT "$ENV{SETUP_SIGN_PASSWORD}" STREQUAL "")
    set(password_pipe "COMMAND printenv SETUP_SIGN_PASSWORD")
else()
    set(password_given OFF)
    set(password_input "INPUT_FILE /dev/null")
endif()
if(password_given)
    set(openssl_passin -passin stdin)
else()
    set(openssl_passin -passin pass:)
endif()
set(no_password "no password was given (SETUP_SIGN_PASSWORD or SETUP_SIGN_PASSWORD_FILE)")

# Runs the command line in `command` with the password on its standard input.
# No tool may hold the build for ever: a time-stamping server that never
# answers ends the signing after this many seconds.
set(tool_timeout 120)
macro(run_with_password)
    cmake_language(EVAL CODE "execute_process(${password_pipe} COMMAND ${command} ${password_input}
        TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)")
endmacro()

file(RENAME "${PROGRAM}" "${unsigned}")

# The key must open with the password before osslsigncode reads it, which
# would ask the terminal for one.
if(SIGN_PKCS12)
    set(certificate "${extracted}")
    foreach(legacy "" -legacy)
        set(command "")
        append_arguments(command "${SIGN_OPENSSL}" pkcs12 ${legacy} -in "${SIGN_PKCS12}" -clcerts -nokeys
            ${openssl_passin} -out "${certificate}")
        run_with_password()
        # Older containers are in ciphers OpenSSL 3 keeps in its legacy provider.
        if(status EQUAL 0 OR output MATCHES "Mac verify error")
            break()
        endif()
    endforeach()
    if(output MATCHES "Mac verify error" AND password_given)
        fail("the password does not open ${SIGN_PKCS12}")
    elseif(output MATCHES "Mac verify error")
        fail("${SIGN_PKCS12} needs a password and ${no_password}")
    elseif(NOT status EQUAL 0)
        fail("its certificate cannot be read from ${SIGN_PKCS12}; openssl says:\n${output}")
    endif()
else()
    set(certificate "${SIGN_CERT}")
    set(command "")
    append_arguments(command "${SIGN_OPENSSL}" pkey -in "${SIGN_KEY}" -noout ${openssl_passin})
    run_with_password()
    if(NOT status EQUAL 0)
        file(STRINGS "${SIGN_KEY}" encrypted REGEX "ENCRYPTED" LIMIT_COUNT 1)
        if(encrypted AND password_given)
            fail("the password does not open the key ${SIGN_KEY}")
        elseif(encrypted)
            fail("the key ${SIGN_KEY} is encrypted and ${no_password}")
        endif()
        fail("the key ${SIGN_KEY} cannot be read; openssl says:\n${output}")
    endif()
endif()

# osslsigncode signs with any certificate that holds the key: it must also be
# valid now and meant for signing code (or for any use, when it names none).
execute_process(COMMAND "${SIGN_OPENSSL}" verify -partial_chain -trusted "${certificate}" "${certificate}"
    INPUT_FILE /dev/null RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    fail("the certificate is not valid now; openssl says:\n${output}")
endif()
execute_process(COMMAND "${SIGN_OPENSSL}" x509 -in "${certificate}" -noout -ext extendedKeyUsage
    INPUT_FILE /dev/null RESULT_VARIABLE status OUTPUT_VARIABLE usage ERROR_VARIABLE usage)
if(usage MATCHES "Extended Key Usage" AND NOT usage MATCHES "Code Signing")
    fail("the certificate is not meant for signing code; it allows:\n${usage}")
endif()

set(command "")
append_arguments(command "${SIGN_OSSLSIGNCODE}" sign -h sha256 -n "$ENV{PMPACK_PRODUCT_NAME}")
if(NOT "$ENV{PMPACK_PRODUCT_URL}" STREQUAL "")
    append_arguments(command -i "$ENV{PMPACK_PRODUCT_URL}")
endif()
if(SIGN_PKCS12)
    append_arguments(command -pkcs12 "${SIGN_PKCS12}")
else()
    append_arguments(command -certs "${SIGN_CERT}" -key "${SIGN_KEY}")
endif()
if(password_given)
    append_arguments(command -readpass /dev/stdin)
endif()
if(NOT SIGN_TIMESTAMP_URL STREQUAL "")
    append_arguments(command -ts "${SIGN_TIMESTAMP_URL}")
endif()
if(NOT SIGN_TIME STREQUAL "")
    append_arguments(command -time "${SIGN_TIME}")
endif()
append_arguments(command -in "${unsigned}" -out "${signing}")
run_with_password()
if(status MATCHES "timeout" AND NOT SIGN_TIMESTAMP_URL STREQUAL "")
    fail("osslsigncode did not finish within ${tool_timeout} seconds; the time-stamping server ${SIGN_TIMESTAMP_URL} may not be answering")
elseif(NOT status EQUAL 0)
    fail("osslsigncode says:\n${output}")
endif()

file(REMOVE "${unsigned}" "${extracted}")
file(RENAME "${signing}" "${PROGRAM}")
