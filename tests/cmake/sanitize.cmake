# Under the sanitizers every test, and every program it starts, looks for leaks;
# tests/lsan.supp names the leaks that belong to the libraries below us. Leaks are
# recorded with full stacks, as libraries built without frame pointers (libdbus)
# cut the fast ones short before a suppression could name them; the fuzzers keep
# the fast ones, for speed, and touch no such library.
if(TARVIC_SANITIZE OR TARVIC_FUZZ)
    function(tarvic_sanitizer_environment)
        get_directory_property(all TESTS)
        foreach(test ${all})
            get_test_property(${test} LABELS labels)
            set(unwind 0)
            if(labels MATCHES "^fuzz-")
                set(unwind 1)
            endif()
            set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=${unwind}"
                "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp:print_suppressions=0"
                "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
        endforeach()
    endfunction()
    cmake_language(DEFER CALL tarvic_sanitizer_environment)
endif()
