# The watcher's tests: the stand-in for tarvic that records its starts, the watcher's
# own library, and the check that tarvic-watch stays clear of Qt's window libraries.
foreach(t test_watch test_watch_bus)
    if(TARGET ${t})
        target_link_libraries(${t} PRIVATE tarvic_watch)
        add_dependencies(${t} tarvic-watch)
        target_compile_definitions(${t} PRIVATE
            TARVIC_WATCH="$<TARGET_FILE:tarvic-watch>" WATCH_RECORDER="${CMAKE_CURRENT_SOURCE_DIR}/watch/record_start.sh")
    endif()
endforeach()

add_test(NAME watch_links_no_windows
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/watch/test_links.sh $<TARGET_FILE:tarvic-watch> $<TARGET_FILE:tarvic>)

# On the real udisks2 stack: global to the machine, one at a time.
add_test(NAME stack_test_watch COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/watch/test_watch_real.sh)
set_tests_properties(stack_test_watch PROPERTIES TIMEOUT 300 RESOURCE_LOCK real_udisks_stack
    ENVIRONMENT "TARVIC_WATCH=$<TARGET_FILE:tarvic-watch>;TARVIC_BUILD=${CMAKE_BINARY_DIR};TARVIC_SOURCE=${CMAKE_SOURCE_DIR}")
