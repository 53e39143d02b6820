# One way to set up every target of the project.
function(kalvex_setup_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KALVEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kalvex_add_room(ROOM SOURCES ... USES lib... [DIR dir LINK name]) — one room of the house as
# its own static library kalvex_<room>. Its include root holds a link to
# this room's folder only, so its sources see their own headers and, through
# the rooms it USES, those of the floors below: an include that climbs finds
# no file and does not build.
function(kalvex_add_room room)
  cmake_parse_arguments(ARG "" "DIR;LINK" "SOURCES;USES" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(NOT ARG_LINK)
    set(ARG_LINK ${room})
  endif()
  set(target kalvex_${room})
  add_library(${target} STATIC ${ARG_SOURCES})
  kalvex_setup_target(${target})
  set(root ${PROJECT_BINARY_DIR}/rooms/${room})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${ARG_DIR} ${root}/${ARG_LINK} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${ARG_USES})
endfunction()

# kalvex_add_test(NAME source... ) — one GoogleTest binary per room, with one
# CTest entry per suite so that a failure names its room and suite. Tests
# stand outside the house and see all of it.
function(kalvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;SUITES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kalvex_setup_target(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE kalvex_shell ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES KALVEX_PVGUI pvgui_script)
  target_compile_definitions(${name} PRIVATE
    KALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KALVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  foreach(suite ${ARG_SUITES})
    add_test(NAME ${name}.${suite} COMMAND ${name} --gtest_filter=${suite}.*)
    set_tests_properties(${name}.${suite} PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()
