# Checks one language's translations against the programs' English texts with
# gettext's own tools, and compiles them for the packer:
#   cmake -DPO=locale/de.po -DTEMPLATE=messages.pot -DOUT=de.mo -P check_translation.cmake
# (with -DMSGMERGE=, -DMSGATTRIB=, -DMSGFMT= naming the tools). Every English
# text of the template must have a translation that is not marked fuzzy, and
# each format's translation the same placeholders (msgfmt --check-format, for
# the texts xgettext found to be formats). A translation of a text the sources
# no longer have is left out.
get_filename_component(name ${PO} NAME)
set(merged ${OUT}.merged.po)
file(REMOVE ${OUT})

# The template's flags (c-format) come with it, whatever the file says.
execute_process(COMMAND ${MSGMERGE} --quiet --no-fuzzy-matching -o ${merged} ${PO} ${TEMPLATE}
    RESULT_VARIABLE status ERROR_VARIABLE problem)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "locale/${name}: cannot be read:\n${problem}")
endif()

set(problems "")
foreach(kind untranslated only-fuzzy)
    execute_process(COMMAND ${MSGATTRIB} --${kind} --no-obsolete ${merged} OUTPUT_VARIABLE entries)
    # The header entry comes first when any comes.
    string(REGEX MATCHALL "(^|\n)msgid " found "${entries}")
    list(LENGTH found count)
    if(count GREATER 1)
        math(EXPR count "${count} - 1")
        if(kind STREQUAL "untranslated")
            string(APPEND problems "locale/${name}: ${count} of the programs' texts have no translation in it (see "
                "docs/languages.md, \"Adding a text\"):\n${entries}\n")
        else()
            string(APPEND problems "locale/${name}: ${count} translations are marked fuzzy: check each, then take "
                "its \"#, fuzzy\" mark away:\n${entries}\n")
        endif()
    endif()
endforeach()

execute_process(COMMAND ${MSGFMT} --check -o ${OUT} ${merged} RESULT_VARIABLE status ERROR_VARIABLE problem)
# The texts' line breaks are Windows' CR LF, which gettext warns of in every one.
string(REGEX REPLACE "[^\n]*should not contain the '\\\\r' escape sequence\n" "" problem "${problem}")
if(NOT status EQUAL 0)
    file(REMOVE ${OUT})
    string(APPEND problems "locale/${name}: msgfmt --check refuses it (its lines as in the file checked against "
        "the template, ${merged}):\n${problem}")
endif()
if(problems)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "${problems}")
endif()
file(REMOVE ${merged})
