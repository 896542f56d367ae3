# The Debian package (scripts/empaquetar-deb.sh builds it): install rules for a prefix of /usr and CPack's DEB
# generator, with dependencies computed by dpkg-shlibdeps.
if(WIN32)
    return()
endif()

set(TORNAVO_PAQUETE_DIR ${CMAKE_SOURCE_DIR}/paquetes/debian)
set(TORNAVO_MANTENEDOR "Plugin Tornavo <plugin@tornavo.com>")
set(generados ${CMAKE_BINARY_DIR}/paquete)
file(MAKE_DIRECTORY ${generados})

install(TARGETS plugin-tornavo RUNTIME DESTINATION bin)
install(FILES ${TORNAVO_PAQUETE_DIR}/plugin-tornavo.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/tornavo-32.png DESTINATION share/icons/hicolor/32x32/apps
        RENAME plugin-tornavo.png)
install(FILES ${CMAKE_SOURCE_DIR}/resources/tornavo-64.png DESTINATION share/icons/hicolor/64x64/apps
        RENAME plugin-tornavo.png)
install(FILES ${CMAKE_SOURCE_DIR}/resources/tornavo.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME plugin-tornavo.svg)

# The machine-wide config.ini: the commented one of the portable folder, under a header that says where it is.
file(READ ${TORNAVO_PAQUETE_DIR}/cabecera-config.ini cabecera)
file(READ ${CMAKE_SOURCE_DIR}/config.ini cuerpo)
file(WRITE ${generados}/config.ini "${cabecera}${cuerpo}")
install(FILES ${generados}/config.ini ${TORNAVO_PAQUETE_DIR}/politica-navegador.json
        DESTINATION /etc/plugin-tornavo PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${TORNAVO_PAQUETE_DIR}/plugin-tornavo-autostart.desktop DESTINATION /etc/xdg/autostart
        RENAME plugin-tornavo.desktop PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Chromium reads a link to the one policy file: the administrator edits it in one place, and removing the package
# (not only purging it) takes the permission away. Google Chrome's link is made by postinst (its folder is under
# /etc/opt).
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/etc/chromium/policies/managed\")
file(CREATE_LINK ../../../plugin-tornavo/politica-navegador.json \"\$ENV{DESTDIR}/etc/chromium/policies/managed/plugin-tornavo.json\" SYMBOLIC)")

# Documentation where Debian wants it, compressed as lintian expects.
string(TIMESTAMP fecha "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(VERSION ${PROJECT_VERSION})
set(MAINTAINER ${TORNAVO_MANTENEDOR})
set(FECHA ${fecha})
# A native package (no Debian revision): its changelog is changelog.gz.
configure_file(${TORNAVO_PAQUETE_DIR}/changelog.in ${generados}/changelog @ONLY)
configure_file(${TORNAVO_PAQUETE_DIR}/plugin-tornavo.1 ${generados}/plugin-tornavo.1 @ONLY)
find_program(TORNAVO_GZIP gzip REQUIRED)
foreach(archivo changelog plugin-tornavo.1)
    add_custom_command(OUTPUT ${generados}/${archivo}.gz
        COMMAND ${TORNAVO_GZIP} -9nkf ${generados}/${archivo}
        DEPENDS ${generados}/${archivo} VERBATIM)
endforeach()
add_custom_target(tornavo_documentos_paquete ALL
    DEPENDS ${generados}/changelog.gz ${generados}/plugin-tornavo.1.gz)
install(FILES ${generados}/changelog.gz ${TORNAVO_PAQUETE_DIR}/README.Debian ${TORNAVO_PAQUETE_DIR}/copyright
        DESTINATION share/doc/plugin-tornavo)
install(FILES ${generados}/plugin-tornavo.1.gz DESTINATION share/man/man1)

file(WRITE ${generados}/conffiles "/etc/plugin-tornavo/config.ini\n/etc/plugin-tornavo/politica-navegador.json\n"
                                  "/etc/xdg/autostart/plugin-tornavo.desktop\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plugin-tornavo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TORNAVO_MANTENEDOR})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tornavo.com)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so not found by the shared-library scan.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcups2)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS cups-client)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "local agent of the Tornavo web application")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lets the Tornavo web application, open in a browser on the same machine,
read a serial scale, list the installed printers, print PDF files silently
and hand CSV files to Qendra. It answers HTTP on port 9999 of the loopback
addresses, starts at log-in behind a tray icon, and allows the web
application's pages to reach it in Chromium and Google Chrome.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${generados}/conffiles ${TORNAVO_PAQUETE_DIR}/postinst ${TORNAVO_PAQUETE_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
