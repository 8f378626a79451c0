# Signs one program with osslsigncode (Authenticode), run by the build:
#   cmake -DIN=unsigned.exe -DOUT=final.exe -DDESCRIPTION_FILE=product_signing.cmake
#         [-DPKCS12=file.p12 | -DCERT=cert.pem -DKEY=key.pem] [-DPASSWORD_FILE=file] [-DTIMESTAMP_URL=url]
#         -DWORK=folder -P sign.cmake
# The password may come from the environment (SETUP_SIGN_PASSWORD) instead of a
# file; SOURCE_DATE_EPOCH fixes the signing time. The signed program appears
# under OUT only whole and checked: a failure leaves no file there.
file(REMOVE ${OUT})
include(${DESCRIPTION_FILE})

set(arguments sign -h sha256 -n ${PRODUCT_SIGNING_NAME})
if(PRODUCT_SIGNING_URL)
    list(APPEND arguments -i ${PRODUCT_SIGNING_URL})
endif()
if(PKCS12)
    list(APPEND arguments -pkcs12 ${PKCS12})
else()
    list(APPEND arguments -certs ${CERT} -key ${KEY})
endif()

# A password from the environment goes to the tools in a file only this user can read.
set(password_file ${PASSWORD_FILE})
if(NOT password_file AND DEFINED ENV{SETUP_SIGN_PASSWORD})
    set(password_file ${WORK}/password)
    file(WRITE ${password_file} "")
    file(CHMOD ${password_file} PERMISSIONS OWNER_READ OWNER_WRITE)
    file(APPEND ${password_file} "$ENV{SETUP_SIGN_PASSWORD}")
endif()
if(password_file)
    list(APPEND arguments -readpass ${password_file})
endif()
if(TIMESTAMP_URL)
    list(APPEND arguments -ts ${TIMESTAMP_URL})
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND arguments -time $ENV{SOURCE_DATE_EPOCH})
endif()

# The tool's own words go out as they are; CMake would reflow an error's text.
function(fail message)
    file(REMOVE ${OUT}.signing ${WORK}/password ${WORK}/certificate.pem)
    message(NOTICE "Signing ${OUT} failed: ${message}")
    message(FATAL_ERROR "${OUT} was not signed")
endfunction()

file(REMOVE ${OUT}.signing)
execute_process(COMMAND osslsigncode ${arguments} -in ${IN} -out ${OUT}.signing
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    set(reason "")
    if(output MATCHES "mac verify failure")
        set(reason "the password does not open ${PKCS12}; ")
    endif()
    fail("${reason}osslsigncode says:\n${output}")
endif()

# osslsigncode signs with any certificate that holds the key: it must also be
# valid now and meant for signing code (or for any use, when it names none).
set(certificate ${CERT})
if(PKCS12)
    set(certificate ${WORK}/certificate.pem)
    set(passin)
    if(password_file)
        set(passin -passin file:${password_file})
    endif()
    execute_process(COMMAND openssl pkcs12 -in ${PKCS12} -clcerts -nokeys ${passin} -out ${certificate}
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        # Older containers are in ciphers OpenSSL 3 keeps in its legacy provider.
        execute_process(COMMAND openssl pkcs12 -legacy -in ${PKCS12} -clcerts -nokeys ${passin} -out ${certificate}
            RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    endif()
    if(NOT status EQUAL 0)
        fail("its certificate cannot be read from ${PKCS12}; openssl says:\n${output}")
    endif()
endif()
execute_process(COMMAND openssl verify -partial_chain -trusted ${certificate} ${certificate}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    fail("the certificate is not valid now; openssl says:\n${output}")
endif()
execute_process(COMMAND openssl x509 -in ${certificate} -noout -ext extendedKeyUsage
    RESULT_VARIABLE status OUTPUT_VARIABLE usage ERROR_VARIABLE usage)
if(usage MATCHES "Extended Key Usage" AND NOT usage MATCHES "Code Signing")
    fail("the certificate is not meant for signing code; it allows:\n${usage}")
endif()

file(REMOVE ${WORK}/password ${WORK}/certificate.pem)
file(RENAME ${OUT}.signing ${OUT})
