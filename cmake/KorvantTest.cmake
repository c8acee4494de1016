# korvant_add_test(NAME SOURCES... LIBS ... [LABELS ...]): one Qt Test executable registered with CTest.
# Labels: "slow" for runs that repeat a suite under other conditions, "package" for the package's
# checks; scripts/mutate.sh leaves both out (ctest -LE 'slow|package').
# Tests run on the offscreen platform in a scratch working folder of their own, so no
# display is needed and no test touches the source tree's sys/ folder.
function(korvant_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_compile_definitions(${name} PRIVATE
    KORVANT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KORVANT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # End-to-end tests start the simulator; build it with every test.
  if(TARGET korvant-sim)
    add_dependencies(${name} korvant-sim)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;UBSAN_OPTIONS=print_stacktrace=1"
    TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
