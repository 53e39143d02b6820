# One way to set up every target of the project.
function(kalvex_setup_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KALVEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kalvex_add_test(NAME source... ) — one GoogleTest binary per room, with one
# CTest entry per suite so that a failure names its room and suite.
function(kalvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;SUITES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kalvex_setup_target(${name})
  target_link_libraries(${name} PRIVATE kalvex_core pvgui_script ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KALVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  foreach(suite ${ARG_SUITES})
    add_test(NAME ${name}.${suite} COMMAND ${name} --gtest_filter=${suite}.*)
    set_tests_properties(${name}.${suite} PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()
