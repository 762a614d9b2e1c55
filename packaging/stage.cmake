# Run by cpack between the install rules and the package: adds the copyright
# file and the changelog that Debian asks of every package, compresses the
# changelog and the manual pages as Debian wants them, and marks what lies under
# /etc as configuration files.
set(stage ${CPACK_TEMPORARY_DIRECTORY})
set(doc ${stage}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME})
file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_TARVIC_PACKAGING_DIR}/copyright ${doc}/copyright)
file(COPY_FILE ${CPACK_TARVIC_PACKAGING_DIR}/changelog ${doc}/changelog)
file(GLOB_RECURSE pages ${stage}${CPACK_PACKAGING_INSTALL_PREFIX}/share/man/*)
foreach(file ${doc}/changelog ${pages})
    if(NOT file MATCHES "\\.gz$")
        execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()

# Whatever is installed under /etc is configuration the user may change: dpkg keeps
# such changes across upgrades, and a purge removes the files.
file(GLOB_RECURSE etc LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/etc/*)
if(etc)
    list(TRANSFORM etc PREPEND /)
    list(JOIN etc "\n" lines)
    file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/conffiles "${lines}\n")
    list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CPACK_TOPLEVEL_DIRECTORY}/conffiles)
endif()
