# What a Debian package of Quillon holds, and how CPack makes it from the build tree.

set(QUILLON_APP_ID io.quillon.Quillon)
set(res ${PROJECT_SOURCE_DIR}/resources)

install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${res}/desktop/${QUILLON_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${res}/desktop/${QUILLON_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${res}/desktop/${QUILLON_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${QUILLON_APP_ID}.xml)
foreach(size 48 64 128 256)
    install(FILES ${res}/icons/quillon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${QUILLON_APP_ID}.png)
endforeach()
install(FILES ${res}/icons/quillon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QUILLON_APP_ID}.svg)

# Manual pages and the changelog go in compressed, as Debian wants them.
file(GLOB man_pages ${res}/man/*.1)
set(compressed "")
foreach(page ${man_pages} ${res}/desktop/changelog)
    get_filename_component(name ${page} NAME)
    set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND gzip -9n -c ${page} > ${out}
        DEPENDS ${page} VERBATIM)
    list(APPEND compressed ${out})
    if(name STREQUAL "changelog")
        install(FILES ${out} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
    else()
        install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endforeach()
add_custom_target(quillon_packaging_files ALL DEPENDS ${compressed})
install(FILES ${res}/desktop/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
install(FILES ${PROJECT_SOURCE_DIR}/cloudservice/API.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)

# Units for the daemons: installed, not enabled.
foreach(unit cloudservice/quillon-cloud.service gateway/quillon-gateway.service)
    if(EXISTS ${PROJECT_SOURCE_DIR}/${unit})
        install(FILES ${PROJECT_SOURCE_DIR}/${unit} DESTINATION lib/systemd/system)
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_CONTACT "The Quillon developers <dev@quillon.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "terminal for serial ports and IP networks")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quillon talks to devices over serial ports, TCP, UDP and RFC 2217, with up\n"
    "to sixteen ports side by side, text or hex views, checksums, control lines\n"
    "and data logs. It transfers files with XMODEM and YMODEM and bridges ports\n"
    "(a network-to-serial gateway with RFC 2217 and Modbus TCP to RTU). Command-\n"
    "line programs do transfers and run a headless gateway, and a cloud service\n"
    "serves a browser console.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillon.io")
# The platform plugin for a desktop, the SQL drivers the service names, and the
# secret store the account uses; none of them is linked, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libqt6sql6-psql, lrzsz")
include(CPack)
