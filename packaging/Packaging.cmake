# The menu entry, icons and AppStream data beside the programs, and the
# Debian package of KOBITO Motion (scripts/package runs cpack).
include(GNUInstallDirs)

set(_kobito_packaging ${CMAKE_CURRENT_LIST_DIR})
install(FILES ${_kobito_packaging}/kobito-motion.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_kobito_packaging}/example.kobito.Motion.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_kobito_packaging}/kobito-motion.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${_kobito_packaging}/icons/${size}x${size}/kobito-motion.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# The file type of motion files, so that file managers open them with us.
install(FILES ${_kobito_packaging}/kobito-motion.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kobito-motion.xml)

# The Scratch 3 extension, for editors that load it by file or by a school's own URL.
install(FILES ${PROJECT_SOURCE_DIR}/extension/kobito-motion.js
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kobito-motion)

# Manual pages and the changelog go in gzipped at the highest level and
# without a time stamp, so that the package builds the same bytes each time.
find_program(KOBITO_GZIP gzip REQUIRED)
set(_kobito_gzipped)
foreach(source man/kobito-motion.1 man/kobito-sim.1 changelog)
  get_filename_component(_name ${source} NAME)
  set(_gz ${CMAKE_BINARY_DIR}/packaging/${_name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${KOBITO_GZIP} -9 -n -c ${_kobito_packaging}/${source} > ${_gz}
    DEPENDS ${_kobito_packaging}/${source} VERBATIM)
  list(APPEND _kobito_gzipped ${_gz})
endforeach()
add_custom_target(kobito-package-docs ALL DEPENDS ${_kobito_gzipped})
install(FILES ${CMAKE_BINARY_DIR}/packaging/kobito-motion.1.gz
              ${CMAKE_BINARY_DIR}/packaging/kobito-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_kobito_packaging}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kobito-motion)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kobito-motion)
set(CPACK_PACKAGE_VENDOR "KOBITO Motion maintainers")
set(CPACK_PACKAGE_CONTACT "KOBITO Motion maintainers <maintainers@kobito.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "motion editor and controller for the KOBITO robot")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/deb)

set(CPACK_DEBIAN_PACKAGE_NAME kobito-motion)
# A native package: the project packages itself, so there is no Debian
# revision and packaging/changelog is the one changelog.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt 6 libraries come from dpkg-shlibdeps; the captions are Japanese first
# and need a Japanese font; Scratch 1.4 can drive the program by broadcast.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "scratch")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KOBITO Motion shapes poses for KOBITO, a small humanoid robot with twelve
servos and two colour eyes, collects them into motions of up to 100 steps,
saves and opens motion files and plays them on the robot over a serial line.
Presets, remote-controller buttons and Scratch 1.4 broadcasts start motions.

kobito-sim plays the robot's controller board on a pseudo-terminal, for
trying the program without a robot.")

include(CPack)
