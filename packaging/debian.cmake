# The Debian package, built by `./lumora package` from a tree configured for /usr. Its
# dependencies are computed: dpkg-shlibdeps from the shared libraries the programs link, and
# lumora_qml_packages from the QML modules the window imports.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora-connector)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LUMORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "glucose-sensor reader download into an encrypted file")
# Lines of at most 79 characters: the control file's limit.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop program for clinics and patients. Plug a handheld glucose-sensor
reader in over USB and the window shows the reader's serial number and clock;
one click downloads the reader's stored records into one JSON document, which
is encrypted for a configured recipient (an RSA public key and AES-256) and
saved in a folder per sensor, ready to be dragged out to another application.
.
The package holds the window (lumora-connector), the same download without a
window (lumora-download), lumora-decrypt, which turns a saved file back into
its document with the recipient's private key, and a udev rule that gives the
user at the seat access to the reader.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only Debian and its derivatives can say which package holds a module (and build this package).
find_program(LUMORA_DPKG_QUERY dpkg-query)
if(LUMORA_QT AND LUMORA_DPKG_QUERY)
    find_package(Qt5 5.11 REQUIRED COMPONENTS Core)
    include(${CMAKE_CURRENT_LIST_DIR}/qml_depends.cmake)
    file(GLOB window_documents ${PROJECT_SOURCE_DIR}/qml/*.qml)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${window_documents})
    lumora_qml_packages(qml_packages ${window_documents})
    list(JOIN qml_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
# The window's fixed layout is measured for Arial's widths, which this font has; Qt's own texts
# (such as its error messages) in the window's languages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, qttranslations5-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
