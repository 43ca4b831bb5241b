# The emulator that runs this tree's Windows programs (CMAKE_CROSSCOMPILING_EMULATOR): a script
# that gives Wine the tree's prefix and the folders of the DLLs the programs load.
set(LUMORA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
set(lumora_wine_path "")
foreach(dir ${LUMORA_WINDOWS_SDK_PREFIX}/bin ${LUMORA_MINGW_RUNTIME_DIRS})
    if(EXISTS ${dir})
        string(APPEND lumora_wine_path "Z:${dir};")
    endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
