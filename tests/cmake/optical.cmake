# The fake udisks2 service that tests/test_udisks.cpp starts on a private bus.
add_executable(fake_udisks ${CMAKE_CURRENT_SOURCE_DIR}/optical/fake_udisks.cpp)
target_link_libraries(fake_udisks PRIVATE Qt6::DBus)
if(TARGET test_udisks)
    add_dependencies(test_udisks fake_udisks)
    target_compile_definitions(test_udisks PRIVATE FAKE_UDISKS="$<TARGET_FILE:fake_udisks>")
endif()
