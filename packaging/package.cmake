# The Debian package, built by scripts/package: whatever the install rules install,
# under /usr, with the dependencies that dpkg-shlibdeps finds. stage.cmake adds
# what Debian asks of every package once the install rules have run.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvic)
set(CPACK_PACKAGE_VENDOR Halvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Seed e33211b8 maintainers <maintainers@users.noreply.c-seed-e33211b8.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency shows them: the scalable icon
# (Qt's SVG plugins), mounting discs, opening a drive in the file manager, and
# Windows programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, udisks2, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[start the player or the program that belongs to an inserted disc
Tarvic does for one drive what a desktop's automatic handling of inserted
discs would do, and does it also where that handling is switched off or
absent. It waits until a disc is in and starts the configured audio CD
player for an audio CD, the configured video DVD player for a video DVD,
or the program that a data disc's autorun.inf names (Windows programs
through Wine). Where a disc names no program, a small window lists the
disc's programs with their icons.
.
Drive letters are a folder of symbolic links in the style of Wine's
dosdevices; optical drives are asked directly and mounted through udisks2.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_TARVIC_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage.cmake)
include(CPack)
