# Run by cpack between the install rules and the package: adds the copyright
# file and the changelog that Debian asks of every package, and compresses the
# changelog and the manual pages as Debian wants them.
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
