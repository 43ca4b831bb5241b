# lumora_header_library(TARGET FOLDER): an INTERFACE target for a header-only library that
# Debian installs as /usr/include/FOLDER. The folder alone is linked into the build tree and put
# on the include path: the Windows build must not see the rest of /usr/include, whose C library
# headers would shadow mingw-w64's.
function(lumora_header_library target folder)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: ./lumora build installs it")
    endif()
    set(dir ${CMAKE_BINARY_DIR}/header-libraries/${target})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK /usr/include/${folder} ${dir}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE)
    target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()
