# cmake -DPROGRAM=... -DMAN_PAGE=... [-DEMULATOR=...] -P man_page_options.cmake
# Fails when an option that PROGRAM's --help lists is missing from MAN_PAGE, so that a new or
# renamed option cannot ship undocumented. EMULATOR runs a program built for another system.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help ended with ${status}")
endif()
file(READ ${MAN_PAGE} page)
# roff writes a hyphen-minus as \-
string(REPLACE "\\-" "-" page "${page}")
string(REGEX MATCHALL "--[a-z][a-z-]*" options "${help}")
list(REMOVE_DUPLICATES options)
set(missing)
foreach(option IN LISTS options)
    if(NOT page MATCHES "${option}([^a-z-]|$)")
        list(APPEND missing ${option})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "${MAN_PAGE} does not describe ${missing}")
endif()
list(LENGTH options count)
message(STATUS "${count} options of --help are in ${MAN_PAGE}")
