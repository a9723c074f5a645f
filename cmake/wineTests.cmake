# The Windows build's tests run under Wine: GoogleTest is built from its
# sources for the target, and every test command goes through
# tests/windows/wine.sh, which runs it in the one Wine prefix that the
# "wine" fixture makes for the whole ctest run.
set(PIC_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${PIC_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
add_library(GTest::gtest_main ALIAS gtest_main)

set(PIC_WINE ${PROJECT_SOURCE_DIR}/tests/windows/wine.sh)
set(PIC_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${PIC_WINE} run ${PIC_WINE_STATE})

# A test whose command runs under Wine (a target's name as the command goes
# through the emulator above).
function(pic_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
endfunction()
