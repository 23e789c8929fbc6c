# Install layout and the Debian package (cpack -G DEB). Everything the package holds is in the
# install component "vantero", so install rules of libraries pulled into the build stay out of it.

include(GNUInstallDirs)
# Debian wants the documentation under the package's name, not the project's (Qt's CMake files
# have already included GNUInstallDirs, so only an empty cache entry tells it was not chosen).
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
    set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantero)
endif()

set(VANTERO_APP_ID "cn.vantero.Vantero" CACHE STRING
    "Reverse-DNS id of the desktop entry, the icon and the AppStream data")
set(VANTERO_MAINTAINER "Vantero developers <packaging@vantero.example.invalid>" CACHE STRING
    "Maintainer of the Debian package")
set(VANTERO_DEB_RELEASE "1" CACHE STRING "Debian revision of the package")
set(VANTERO_DEB_VERSION "${PROJECT_VERSION}-${VANTERO_DEB_RELEASE}")

set(dist_src ${CMAKE_CURRENT_SOURCE_DIR}/dist)
set(dist_out ${CMAKE_CURRENT_BINARY_DIR}/dist)
set(component COMPONENT vantero)

install(TARGETS vantero vantero-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${component})

# The menu start goes through a launcher that changes into the per-user data folder; it finds the
# program relative to itself, so the same file works under any prefix.
set(launcher_dir ${CMAKE_INSTALL_LIBEXECDIR}/vantero)
file(RELATIVE_PATH VANTERO_LAUNCHER_TO_BINDIR /prefix/${launcher_dir} /prefix/${CMAKE_INSTALL_BINDIR})
configure_file(${dist_src}/vantero-menu-start.in ${dist_out}/vantero-menu-start @ONLY)
install(PROGRAMS ${dist_out}/vantero-menu-start DESTINATION ${launcher_dir} ${component})

# The desktop entry's Exec needs the launcher's absolute path, known only at install time (cpack
# installs under /usr, a plain cmake --install under CMAKE_INSTALL_PREFIX): the placeholder stays
# through the configure step and is filled in by the install step.
set(VANTERO_MENU_START "@VANTERO_MENU_START@")
configure_file(${dist_src}/vantero.desktop.in ${dist_out}/vantero.desktop.in @ONLY)
install(CODE "
    set(VANTERO_MENU_START \"\${CMAKE_INSTALL_PREFIX}/${launcher_dir}/vantero-menu-start\")
    configure_file(\"${dist_out}/vantero.desktop.in\" \"${dist_out}/${VANTERO_APP_ID}.desktop\" @ONLY)
    file(INSTALL \"${dist_out}/${VANTERO_APP_ID}.desktop\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
" ${component})

configure_file(${dist_src}/vantero.metainfo.xml.in ${dist_out}/${VANTERO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${dist_out}/${VANTERO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        ${component})

# Icons: the bundled SVG as the scalable one, PNGs rendered from it at build time.
set(icon_svg ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/app.svg)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VANTERO_APP_ID}.svg ${component})
find_program(RSVG_CONVERT rsvg-convert)
set(dist_outputs)
if(RSVG_CONVERT)
    foreach(size 16 22 24 32 48 64 128 256)
        set(png ${dist_out}/icons/${size}x${size}/${VANTERO_APP_ID}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dist_out}/icons/${size}x${size}
            COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${icon_svg}
            DEPENDS ${icon_svg} VERBATIM)
        list(APPEND dist_outputs ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                ${component})
    endforeach()
else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: the install holds only the scalable icon")
endif()

# Manual pages and the Debian changelog, compressed as Debian installs them (-n: no time stamp, so
# the same sources give the same package). The Chinese pages are made from the programs' own
# --help, so they hold every command and option; the English ones are written by hand, and the
# test man_pages checks that they name everything the --help names.
string(TIMESTAMP VANTERO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC) # honours SOURCE_DATE_EPOCH
foreach(name IN ITEMS vantero.1 vantero-cli.1 changelog.Debian)
    configure_file(${dist_src}/${name}.in ${dist_out}/${name} @ONLY)
endforeach()
file(MAKE_DIRECTORY ${dist_out}/zh_CN)
set(vantero_summary "淘宝、天猫同行比价")
set(vantero-cli_summary "不带窗口的 Vantero 命令行工具")
foreach(program IN ITEMS vantero vantero-cli)
    add_custom_command(OUTPUT ${dist_out}/zh_CN/${program}.1
        COMMAND sh ${dist_src}/man-from-help.sh $<TARGET_FILE:${program}> ${program} "${${program}_summary}"
                ${PROJECT_VERSION} ${dist_src}/${program}.zh_CN.extra ${dist_out}/zh_CN/${program}.1
        DEPENDS ${program} ${dist_src}/man-from-help.sh ${dist_src}/${program}.zh_CN.extra VERBATIM)
endforeach()
foreach(page IN ITEMS vantero.1 vantero-cli.1 zh_CN/vantero.1 zh_CN/vantero-cli.1 changelog.Debian)
    add_custom_command(OUTPUT ${dist_out}/${page}.gz
        COMMAND gzip -9n -c ${dist_out}/${page} > ${dist_out}/${page}.gz
        DEPENDS ${dist_out}/${page})
    list(APPEND dist_outputs ${dist_out}/${page}.gz)
endforeach()

# The timed update for an always-on machine: a systemd user service and timer, not enabled by the
# package. The service's ExecStart needs the launcher's absolute path, filled in at install time
# like the desktop entry's Exec.
configure_file(${dist_src}/vantero-update.service.in ${dist_out}/vantero-update.service.in @ONLY)
set(VANTERO_USER_UNIT_DIR lib/systemd/user)
install(CODE "
    set(VANTERO_MENU_START \"\${CMAKE_INSTALL_PREFIX}/${launcher_dir}/vantero-menu-start\")
    configure_file(\"${dist_out}/vantero-update.service.in\" \"${dist_out}/vantero-update.service\" @ONLY)
    file(INSTALL \"${dist_out}/vantero-update.service\" \"${dist_src}/vantero-update.timer\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${VANTERO_USER_UNIT_DIR}\")
" ${component})

add_custom_target(vantero_dist ALL DEPENDS ${dist_outputs})
install(FILES ${dist_out}/vantero.1.gz ${dist_out}/vantero-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        ${component})
install(FILES ${dist_out}/zh_CN/vantero.1.gz ${dist_out}/zh_CN/vantero-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/zh_CN/man1 ${component})
install(FILES README.md LICENSE ${dist_src}/copyright ${dist_out}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} ${component})

# The Chinese manual ("本机使用手册", F1): HTML with its pictures. The window finds it relative to
# the program, so any prefix works; a program run from the build folder reads the source tree's.
set(manual_dir ${CMAKE_INSTALL_DOCDIR}/manual)
install(DIRECTORY docs/manual/ DESTINATION ${manual_dir} ${component})
file(RELATIVE_PATH VANTERO_BINDIR_TO_MANUAL /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${manual_dir})
set_property(SOURCE gui/dialogs/UtManual.cpp TARGET_DIRECTORY vantero_ui APPEND PROPERTY COMPILE_DEFINITIONS
    VANTERO_MANUAL_FROM_BINDIR="${VANTERO_BINDIR_TO_MANUAL}" VANTERO_MANUAL_IN_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/docs/manual")

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantero)
set(CPACK_PACKAGE_VENDOR "Vantero developers")
set(CPACK_PACKAGE_CONTACT "${VANTERO_MAINTAINER}")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_CURRENT_BINARY_DIR};${PROJECT_NAME};vantero;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${VANTERO_DEB_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTERO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the SQLite driver, the Chinese texts of
# Qt's own dialogs, a font with the Chinese glyphs, and the SVG plugins for the icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-translations-l10n, fonts-wqy-microhei, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "price and sales watch of rival Taobao and Tmall shops
Vantero reads the item pages of your own shop and of rival shops on the
Taobao and Tmall marketplaces, keeps title, seller, price and sales of every
reading in a local database and shows a colour-coded grid comparing each
rival's price with yours. A background updater re-reads every page on a timer.
The user interface is in Simplified Chinese.
.
The package also holds vantero-cli, a command line tool working on the same
database.")
include(CPack)

# Builds the package into a scratch folder and checks its contents, fields and files.
add_test(NAME package_deb
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_deb.sh
            ${CMAKE_CURRENT_BINARY_DIR} ${VANTERO_DEB_VERSION} ${VANTERO_APP_ID})
set_tests_properties(package_deb PROPERTIES TIMEOUT 900)

# The English manual pages name every command and option the programs' --help names.
add_test(NAME man_pages
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_man_pages.sh
            $<TARGET_FILE:vantero> $<TARGET_FILE:vantero-cli> ${dist_out})
