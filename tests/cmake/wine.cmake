# The Wine drive group: the real tarvic, the real Wine in a private prefix, and a
# Windows probe (built here with mingw-w64) that reports what it sees of its drive.
if(MINGW_X86_64)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/wine/probe.exe)
    add_custom_command(OUTPUT ${probe}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/wine
        COMMAND ${MINGW_X86_64} -O2 -s -Wall -Wextra -Werror -o ${probe} ${CMAKE_CURRENT_SOURCE_DIR}/wine/probe.c
        DEPENDS wine/probe.c
        VERBATIM)
    add_custom_target(wine_probe ALL DEPENDS ${probe})
endif()
add_test(NAME wine_test_drive COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine/test_drive.sh)
set_tests_properties(wine_test_drive PROPERTIES TIMEOUT 600 RESOURCE_LOCK real_udisks_stack
    ENVIRONMENT "TARVIC=$<TARGET_FILE:tarvic>;TARVIC_BUILD=${CMAKE_BINARY_DIR};PROBE=${CMAKE_CURRENT_BINARY_DIR}/wine/probe.exe")

