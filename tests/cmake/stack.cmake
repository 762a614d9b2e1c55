# Device drives on the real udisks2 stack (tests/stack/real_stack.sh), one test at a time.
add_executable(test_real_stack ${CMAKE_CURRENT_SOURCE_DIR}/stack/test_real_stack.cpp)
target_link_libraries(test_real_stack PRIVATE tarvic_testsupport)
target_compile_definitions(test_real_stack PRIVATE REAL_STACK_SH="${CMAKE_CURRENT_SOURCE_DIR}/stack/real_stack.sh")
add_test(NAME stack_test_real_stack COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/stack/real_stack.sh $<TARGET_FILE:test_real_stack>)
set_tests_properties(stack_test_real_stack PROPERTIES TIMEOUT 300 RESOURCE_LOCK real_udisks_stack
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

