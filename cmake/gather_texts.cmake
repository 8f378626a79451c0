# Gathers the programs' English texts into the translations' template:
#   cmake -DXGETTEXT=xgettext -DTEMPLATE=messages.pot -DSOURCES=a.cpp;b.h -DSCRIPTS=a.rc -P gather_texts.cmake
# run in the source tree. Only N_ marks a text; the resource scripts' strings
# read as C strings. The texts' line breaks are Windows' CR LF, which gettext
# warns of in every one: that warning is left out, any other is shown.
set(options --from-code=UTF-8 --keyword= --keyword=N_ --add-comments=TRANSLATORS: --add-location=file
    "--package-name=Pelmora Setup"
    "--msgid-bugs-address=the lead of Pelmora Setup" -o ${TEMPLATE})
foreach(step sources scripts)
    if(step STREQUAL "sources")
        set(run ${XGETTEXT} ${options} --language=C++ ${SOURCES})
    else()
        set(run ${XGETTEXT} ${options} --join-existing --language=C ${SCRIPTS})
    endif()
    execute_process(COMMAND ${run} RESULT_VARIABLE status ERROR_VARIABLE said)
    string(REGEX REPLACE "[^\n]*should not contain the '\\\\r' escape sequence\n" "" said "${said}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "xgettext failed:\n${said}")
    endif()
    if(said)
        message(WARNING "${said}")
    endif()
endforeach()
