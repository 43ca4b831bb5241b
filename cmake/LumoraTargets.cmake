# Settings every target of the project's own code gets.
function(lumora_target_defaults target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
    if(WIN32)
        # GNU printf semantics for the log's format strings.
        target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN
                                                     NOMINMAX _WIN32_WINNT=0x0601)
    endif()
    get_target_property(type ${target} TYPE)
    if(LUMORA_SANITIZE AND type STREQUAL "EXECUTABLE")
        target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/lsan_defaults.cpp)
    endif()
endfunction()
