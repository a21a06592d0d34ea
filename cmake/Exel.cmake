# Helpers shared by every folder: tests, fuzz targets and benchmarks.

# exel_add_test(<name> SOURCES ... LIBS ... [GUI])
# One GoogleTest executable, registered with ctest. Every test process gets
# its own temporary settings, state and runtime folders (see test_main.cpp),
# and runs on the offscreen platform, so no display and no real home is used.
function(exel_add_test name)
  if(NOT EXEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE exel_test_main_gui)
  else()
    target_link_libraries(${name} PRIVATE exel_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;EXEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# exel_add_fuzzer(<name> SOURCES ... LIBS ...)
# A libFuzzer target, built only with -DEXEL_FUZZ=ON and gathered in the
# 'fuzzers' target. Seeds go in fuzz/corpus/<name>/.
function(exel_add_fuzzer name)
  if(NOT EXEL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
  add_dependencies(fuzzers ${name})
endfunction()

# exel_add_bench(<name> SOURCES ... LIBS ...)
# A benchmark program under bench/; it prints its own figures.
function(exel_add_bench name)
  if(NOT EXEL_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()

# exel_add_subfolders(): adds every sub-folder of the current folder that has
# a CMakeLists.txt (tools, benchmarks and fuzz targets are gathered this way).
macro(exel_add_subfolders)
  file(GLOB _exel_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _exel_children)
  foreach(_exel_child ${_exel_children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_exel_child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_exel_child}/CMakeLists.txt)
      add_subdirectory(${_exel_child})
    endif()
  endforeach()
endmacro()
