# Helpers shared by every component's CMakeLists.txt.

# vm_add_test(NAME SOURCES... [LIBS libs...] [LABELS labels...])
# A GoogleTest executable registered with CTest. Label "parser" marks the
# tests that the sanitizer build runs too.
function(vm_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Helpers the tests share (tests/support/test_output.h, ...).
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS "${T_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# Tests labelled "parser" are collected into the target parser-tests, which the
# sanitizer build (make asan-check) builds and runs on its own.
if(NOT TARGET parser-tests)
  add_custom_target(parser-tests)
endif()
function(vm_parser_test name)
  vm_add_test(${name} ${ARGN} LABELS parser)
  add_dependencies(parser-tests ${name})
endfunction()

# vm_use_fast_allocator(TARGET): the program (and every process it forks)
# allocates with jemalloc instead of glibc's malloc. The HTML layout makes and
# drops millions of small strings and nodes; jemalloc does that in a sixth less
# time. Not in the sanitizer build, whose runtime owns malloc.
function(vm_use_fast_allocator target)
  if(VM_SANITIZE)
    return()
  endif()
  find_library(VM_JEMALLOC_LIBRARY jemalloc)
  if(NOT VM_JEMALLOC_LIBRARY)
    message(WARNING "jemalloc not found: ${target} uses glibc's malloc (install libjemalloc-dev)")
    return()
  endif()
  # Kept even though no symbol is named: it is linked for its malloc.
  target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed ${VM_JEMALLOC_LIBRARY} -Wl,--pop-state)
endfunction()
