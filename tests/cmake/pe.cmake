target_link_libraries(tarvic_testsupport PUBLIC tarvic_pewriter)

if(TARVIC_FUZZ)
    # The fuzzers need coverage of the readers they feed, not only of their own file.
    target_compile_options(tarvic_components PRIVATE -fsanitize=fuzzer-no-link)
endif()
