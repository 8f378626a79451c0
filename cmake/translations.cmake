# The programs' translations. xgettext gathers every English text the sources
# mark N_ (and the dialog templates' texts) into the template
# locale/messages.pot of the build folder; each locale/NAME.po is checked
# against it with gettext's own tools (cmake/check_translation.cmake) and
# compiled to NAME.mo beside it, which the packer reads for the languages a
# product names. Every language is checked at every build, whichever a product
# ships: a text added to the sources fails the build until each language
# translates it (tools/update-translations adds it to every file). A build
# given SETUP_TOOLS_BUILD takes that build's, checked there.
set(LOCALE_DIR ${CMAKE_SOURCE_DIR}/locale)
file(GLOB translation_files CONFIGURE_DEPENDS ${LOCALE_DIR}/*.po)
if(SETUP_TOOLS_BUILD)
    set(COMPILED_LOCALE_DIR ${SETUP_TOOLS_BUILD}/locale)
    set(COMPILED_TRANSLATIONS ${translation_files})
    list(TRANSFORM COMPILED_TRANSLATIONS REPLACE "^.*/([^/]+)\\.po$" "${COMPILED_LOCALE_DIR}/\\1.mo")
    add_custom_target(translations)
    return()
endif()
find_program(XGETTEXT xgettext REQUIRED)
find_program(MSGMERGE msgmerge REQUIRED)
find_program(MSGATTRIB msgattrib REQUIRED)
find_program(MSGFMT msgfmt REQUIRED)
set(COMPILED_LOCALE_DIR ${CMAKE_BINARY_DIR}/locale)
set(TRANSLATION_TEMPLATE ${COMPILED_LOCALE_DIR}/messages.pot)
file(MAKE_DIRECTORY ${COMPILED_LOCALE_DIR})

# The code that ships in the two programs, relative to the source tree so that
# the template's references read setup/sequence.cpp:17.
set(shipped_folders base setup folder ui shell uninstall payload restart)
set(translated_sources)
set(translated_templates)
foreach(folder ${shipped_folders})
    file(GLOB sources CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.cpp
        ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    file(GLOB templates CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.rc)
    list(APPEND translated_sources ${sources})
    list(APPEND translated_templates ${templates})
endforeach()
list(SORT translated_sources)
list(SORT translated_templates)
set(absolute_sources ${translated_sources} ${translated_templates})
list(TRANSFORM absolute_sources PREPEND ${CMAKE_SOURCE_DIR}/)

add_custom_command(OUTPUT ${TRANSLATION_TEMPLATE}
    COMMAND ${CMAKE_COMMAND} -DXGETTEXT=${XGETTEXT} -DTEMPLATE=${TRANSLATION_TEMPLATE}
        "-DSOURCES=${translated_sources}" "-DSCRIPTS=${translated_templates}" -P ${CMAKE_SOURCE_DIR}/cmake/gather_texts.cmake
    DEPENDS ${absolute_sources} ${CMAKE_SOURCE_DIR}/cmake/gather_texts.cmake
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Gathering the programs' English texts"
    VERBATIM)
add_custom_target(translation_template DEPENDS ${TRANSLATION_TEMPLATE})

set(COMPILED_TRANSLATIONS)
foreach(po ${translation_files})
    get_filename_component(name ${po} NAME_WE)
    set(compiled ${COMPILED_LOCALE_DIR}/${name}.mo)
    add_custom_command(OUTPUT ${compiled}
        COMMAND ${CMAKE_COMMAND} -DMSGMERGE=${MSGMERGE} -DMSGATTRIB=${MSGATTRIB} -DMSGFMT=${MSGFMT} -DPO=${po}
            -DTEMPLATE=${TRANSLATION_TEMPLATE} -DOUT=${compiled} -P ${CMAKE_SOURCE_DIR}/cmake/check_translation.cmake
        DEPENDS ${po} ${TRANSLATION_TEMPLATE} ${CMAKE_SOURCE_DIR}/cmake/check_translation.cmake
        COMMENT "Checking locale/${name}.po"
        VERBATIM)
    list(APPEND COMPILED_TRANSLATIONS ${compiled})
endforeach()
add_custom_target(translations DEPENDS ${COMPILED_TRANSLATIONS})
