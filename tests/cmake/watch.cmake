# The watcher's decisions need its library; tarvic-watch itself runs with a stand-in
# for tarvic that records its starts.
target_link_libraries(test_watch PRIVATE tarvic_watch)
add_dependencies(test_watch_bus tarvic-watch)
target_compile_definitions(test_watch_bus PRIVATE
    TARVIC_WATCH="$<TARGET_FILE:tarvic-watch>" WATCH_RECORDER="${CMAKE_CURRENT_SOURCE_DIR}/watch/record_start.sh")

# On the real udisks2 stack: global to the machine, one at a time.
add_test(NAME stack_test_watch COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/watch/test_watch_real.sh)
set_tests_properties(stack_test_watch PROPERTIES TIMEOUT 300 RESOURCE_LOCK real_udisks_stack
    ENVIRONMENT "TARVIC_WATCH=$<TARGET_FILE:tarvic-watch>;TARVIC_BUILD=${CMAKE_BINARY_DIR};TARVIC_SOURCE=${CMAKE_SOURCE_DIR}")
