# The window's translations: translations/*.ts (refreshed by `./lumora translations`) become .qm
# files in the build's translations/ folder, where the programs of the build tree find them.
# lrelease runs on the build machine, also in the Windows cross build.
find_program(LUMORA_LRELEASE NAMES lrelease lrelease-qt5 PATHS /usr/lib/qt5/bin
             NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(LUMORA_QM_DIR ${CMAKE_BINARY_DIR}/translations)

# One .ts file per language (their list is in UpdateTranslations.cmake).
file(GLOB lumora_ts_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/translations/*.ts)
set(lumora_qm_files)
foreach(ts IN LISTS lumora_ts_files)
    get_filename_component(name ${ts} NAME_WE)
    set(qm ${LUMORA_QM_DIR}/${name}.qm)
    add_custom_command(OUTPUT ${qm}
                       COMMAND ${LUMORA_LRELEASE} -silent -nounfinished ${ts} -qm ${qm}
                       DEPENDS ${ts} VERBATIM)
    list(APPEND lumora_qm_files ${qm})
endforeach()
add_custom_target(lumora_translations ALL DEPENDS ${lumora_qm_files})
add_dependencies(lumora_app lumora_translations)

if(UNIX AND NOT APPLE)
    include(GNUInstallDirs)
    install(FILES ${lumora_qm_files}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lumora-connector/translations)
endif()
