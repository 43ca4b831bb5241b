# cmake -DMODE=update|check -DSOURCE_DIR=... [-DLUPDATE=lupdate] [-DWORK_DIR=...] -P this file
# update: lupdate writes the window's texts into translations/*.ts (without obsolete entries).
# check: lupdate runs on copies in WORK_DIR; fails when a copy changes (a text is missing or
# obsolete) or when an entry has no finished translation.
if(NOT LUPDATE)
    set(LUPDATE lupdate)
endif()
# The window's languages besides English; a new one is added here.
set(languages de fr es it)
# The window's sources: its documents and the C++ layers whose messages it shows (the headers
# too: lupdate takes the classes' names from them).
file(GLOB sources ${SOURCE_DIR}/qml/*.qml ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h
     ${SOURCE_DIR}/export/*.cpp ${SOURCE_DIR}/export/*.h ${SOURCE_DIR}/client/*.cpp
     ${SOURCE_DIR}/client/*.h)
list(TRANSFORM languages REPLACE "(.+)" "${SOURCE_DIR}/translations/lumora-connector_\\1.ts"
     OUTPUT_VARIABLE ts_files)

if(MODE STREQUAL "check")
    file(REMOVE_RECURSE ${WORK_DIR})
    file(COPY ${ts_files} DESTINATION ${WORK_DIR})
    file(GLOB ts_files ${WORK_DIR}/*.ts)
elseif(NOT MODE STREQUAL "update")
    message(FATAL_ERROR "MODE must be update or check")
endif()
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none -I ${SOURCE_DIR} ${sources}
                        -ts ${ts_files}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed")
endif()
if(MODE STREQUAL "update")
    return()
endif()

set(problems "")
foreach(copy IN LISTS ts_files)
    get_filename_component(name ${copy} NAME)
    file(READ ${copy} updated)
    file(READ ${SOURCE_DIR}/translations/${name} kept)
    if(NOT updated STREQUAL kept)
        string(APPEND problems "${name} is not current with the sources\n")
    endif()
    if(kept MATCHES "type=\"(unfinished|vanished|obsolete)\"|<translation></translation>|<translation/>")
        string(APPEND problems "${name} has an unfinished or empty entry\n")
    endif()
endforeach()
if(problems)
    message(FATAL_ERROR "${problems}Run ./lumora translations and translate the new entries.")
endif()
