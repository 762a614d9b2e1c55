# Under the sanitizers every test, and every program it starts, looks for leaks;
# tests/lsan.supp names the leaks that belong to the libraries below us.
if(TARVIC_SANITIZE)
    function(tarvic_sanitizer_environment)
        get_directory_property(all TESTS)
        foreach(test ${all})
            set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                "ASAN_OPTIONS=detect_leaks=1"
                "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp:print_suppressions=0"
                "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
        endforeach()
    endfunction()
    cmake_language(DEFER CALL tarvic_sanitizer_environment)
endif()
