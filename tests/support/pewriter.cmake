# The generator of Windows programs with icons: used by the tests, the benchmarks,
# the fuzz seeds and the sample discs, so it is built even without BUILD_TESTING.
add_library(tarvic_pewriter STATIC
    ${CMAKE_CURRENT_LIST_DIR}/pe/pe_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pe/pe_writer.h)
target_include_directories(tarvic_pewriter PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(tarvic_pewriter PUBLIC Qt6::Gui)
