# Tests on the real udisks2 stack (tests/stack/real_stack.sh): global to the machine,
# so one at a time.
add_test(NAME stack_test_stack COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/stack/test_stack.sh)
set_tests_properties(stack_test_stack PROPERTIES TIMEOUT 300 RESOURCE_LOCK real_udisks_stack)
