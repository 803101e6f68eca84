# Warnings on for every target of the project; third-party headers come in as system includes.
# CI turns them into errors (QUILLET_WERROR) so that a warning never lands; a user's build with a
# newer compiler that warns more still builds.
option(QUILLET_WERROR "Treat the project's own warnings as errors" OFF)
function(quillet_warnings target)
  if(QUILLET_WERROR)
    target_compile_options(${target} PRIVATE $<IF:$<CXX_COMPILER_ID:MSVC>,/WX,-Werror>)
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
      -Wno-trigraphs)  # C++20 has no trigraphs; masks are full of "??"
  endif()
endfunction()

# One CMake library per area; its tests are the *_test.cpp files beside the sources.
# Usage: quillet_area(NAME engine SOURCES ... DEPS ... TEST_SOURCES ... TEST_DEPS ...); the tests
# are labelled with the area's name (one label: gtest_discover_tests cannot pass a list).
function(quillet_area)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS;TEST_SOURCES;TEST_DEPS" ${ARGN})
  add_library(quillet_${A_NAME} STATIC ${A_SOURCES})
  target_include_directories(quillet_${A_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(quillet_${A_NAME} PUBLIC ${A_DEPS})
  quillet_warnings(quillet_${A_NAME})
  if(QUILLET_BUILD_TESTS AND A_TEST_SOURCES)
    add_executable(${A_NAME}_tests ${A_TEST_SOURCES})
    target_link_libraries(${A_NAME}_tests PRIVATE quillet_${A_NAME} ${A_TEST_DEPS}
                          GTest::gtest GTest::gmock GTest::gtest_main)
    quillet_warnings(${A_NAME}_tests)
    gtest_discover_tests(${A_NAME}_tests
      PROPERTIES LABELS ${A_NAME}
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
