# libFuzzer targets (tests/fuzz/fuzz_*.cpp), built with clang and -DTARVIC_FUZZ=ON.
# Each target is two tests: <target>_seeds runs every seed once (label fuzz-seeds),
# <target>_fuzz then fuzzes for TARVIC_FUZZ_SECONDS (label fuzz-time); scripts/fuzz
# runs both. The seeds of a target are tests/fuzz/corpus/<target>/ and, for fuzz_pe,
# programs that make_samples writes from the recipes of the sample discs. What a
# fuzzer finds goes to fuzz-findings/ in the build, new inputs to fuzz-corpus/.
if(TARVIC_FUZZ)
    set(TARVIC_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz target runs in its fuzz-time test")

    # The code under test needs coverage counters too, or the fuzzers run blind.
    foreach(lib tarvic_profile tarvic_platform tarvic_components)
        target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
    endforeach()

    set(pe_seeds ${CMAKE_CURRENT_BINARY_DIR}/fuzz-seeds/fuzz_pe)
    add_custom_command(
        OUTPUT ${pe_seeds}/stamp
        COMMAND ${CMAKE_COMMAND} -E make_directory ${pe_seeds}
        COMMAND make_samples --seeds ${pe_seeds}
        COMMAND ${CMAKE_COMMAND} -E touch ${pe_seeds}/stamp
        DEPENDS make_samples
        VERBATIM)
    add_custom_target(fuzz_pe_seeds DEPENDS ${pe_seeds}/stamp)

    set(findings ${CMAKE_CURRENT_BINARY_DIR}/fuzz-findings)
    file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_*.cpp)
    foreach(source ${fuzzers})
        get_filename_component(name ${source} NAME_WE)
        add_executable(${name} ${source})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${name} PRIVATE tarvic_components)

        set(seeds)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
            list(APPEND seeds ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
        endif()
        if(name STREQUAL fuzz_pe)
            add_dependencies(fuzz_pe fuzz_pe_seeds)
            list(APPEND seeds ${pe_seeds})
        endif()
        set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/${name})
        file(MAKE_DIRECTORY ${corpus} ${findings})
        set(options -timeout=10 -rss_limit_mb=2048 -artifact_prefix=${findings}/${name}-)

        # A change that fails on a known input fails here, before any fuzzing.
        add_test(NAME ${name}_seeds COMMAND ${name} ${options} -runs=0 ${seeds})
        set_tests_properties(${name}_seeds PROPERTIES LABELS fuzz-seeds TIMEOUT 300)
        # New inputs go to the first folder; the seeds stay as they are.
        add_test(NAME ${name}_fuzz
                 COMMAND ${name} ${options} -max_total_time=${TARVIC_FUZZ_SECONDS} -print_final_stats=1 ${corpus} ${seeds})
        math(EXPR limit "${TARVIC_FUZZ_SECONDS} + 300")
        set_tests_properties(${name}_fuzz PROPERTIES LABELS fuzz-time TIMEOUT ${limit})
    endforeach()

    # This folder builds only its fuzzers; the suite's programs in it would be
    # stale, so here ctest runs only the fuzz tests.
    function(tarvic_fuzz_tests_only)
        get_directory_property(all TESTS)
        foreach(test ${all})
            get_test_property(${test} LABELS labels)
            if(NOT labels MATCHES "^fuzz-")
                set_tests_properties(${test} PROPERTIES DISABLED ON)
            endif()
        endforeach()
    endfunction()
    cmake_language(DEFER CALL tarvic_fuzz_tests_only)
endif()
