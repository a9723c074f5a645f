# The Windows build's tests run under Wine: GoogleTest is built from its
# sources for the target, and every test command goes through
# tests/windows/wine.sh, which runs it in the one Wine prefix that the
# "wine" fixture makes for the whole ctest run.
# Its own project would check a C compiler too and build at -O3; the tests
# need neither.  Every test program that links it is built at -O0 too: it
# runs once, and at -O3 its GoogleTest macros took twice the compile time.
set(PIC_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
set(gtest_dir ${PIC_GTEST_SOURCE}/googletest)
add_library(pic_gtest_main STATIC EXCLUDE_FROM_ALL ${gtest_dir}/src/gtest-all.cc ${gtest_dir}/src/gtest_main.cc)
target_include_directories(pic_gtest_main SYSTEM PUBLIC ${gtest_dir}/include PRIVATE ${gtest_dir})
target_compile_definitions(pic_gtest_main PUBLIC GTEST_HAS_PTHREAD=0)
target_compile_options(pic_gtest_main PUBLIC -O0 PRIVATE -w)
add_library(GTest::gtest_main ALIAS pic_gtest_main)

set(PIC_WINE ${PROJECT_SOURCE_DIR}/tests/windows/wine.sh)
set(PIC_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${PIC_WINE} run ${PIC_WINE_STATE})

# A test whose command runs under Wine (a target's name as the command goes
# through the emulator above).
function(pic_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
endfunction()
