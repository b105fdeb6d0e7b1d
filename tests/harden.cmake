# Robustness tests: limits, faults and the input guard run the built
# keyblend as a child process; the fuzz driver damages models and argument
# files and runs keyblend on each (fuzz_long.sh runs it for longer).
file(GLOB HARDEN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/harden_*.cpp)
if(HARDEN_TEST_SOURCES)
  add_executable(harden_test ${HARDEN_TEST_SOURCES})
  target_link_libraries(harden_test PRIVATE GTest::gtest GTest::gtest_main)
  target_compile_definitions(harden_test PRIVATE KEYBLEND_BIN="$<TARGET_FILE:keyblend>")
  target_compile_options(harden_test PRIVATE ${KEYBLEND_WARNINGS})
  add_dependencies(harden_test keyblend)
  gtest_discover_tests(harden_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()

add_executable(fuzz_keyblend ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_keyblend.cpp)
target_compile_options(fuzz_keyblend PRIVATE ${KEYBLEND_WARNINGS})
add_dependencies(fuzz_keyblend keyblend)
foreach(run "truncate;1;0" "models;1;1000" "args;2;700")
  list(GET run 0 mode)
  list(GET run 1 seed)
  list(GET run 2 count)
  add_test(NAME fuzz.${mode}
           COMMAND fuzz_keyblend --keyblend $<TARGET_FILE:keyblend> --mode ${mode}
                   --seed ${seed} --count ${count} --dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz-${mode})
  set_tests_properties(fuzz.${mode} PROPERTIES TIMEOUT 300)
endforeach()

# A malloc that fails on request, preloaded into keyblend by the fault tests
# (only in builds without the sanitizers, which own malloc themselves).
add_library(fault_malloc SHARED ${CMAKE_CURRENT_SOURCE_DIR}/fault_malloc.cpp)
if(TARGET harden_test)
  add_dependencies(harden_test fault_malloc)
  target_compile_definitions(harden_test PRIVATE FAULT_MALLOC_LIB="$<TARGET_FILE:fault_malloc>")
  if(KEYBLEND_SANITIZE)
    target_compile_definitions(harden_test PRIVATE KEYBLEND_SANITIZED=1)
  endif()
endif()

# The engine's in-process fuzz target.  Built normally it has a replay main,
# and ctest replays the saved corpus through it under whatever sanitizers the
# build has; with KEYBLEND_LIBFUZZER (clang only, see fuzz_libfuzzer.sh) it
# is a libFuzzer target.
option(KEYBLEND_LIBFUZZER "Build fuzz_engine as a libFuzzer target (clang)" OFF)
add_executable(fuzz_engine ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_engine.cpp
                           ${PROJECT_SOURCE_DIR}/app/read.cpp)
target_include_directories(fuzz_engine PRIVATE ${PROJECT_SOURCE_DIR}/app)
target_link_libraries(fuzz_engine PRIVATE klib)
target_compile_options(fuzz_engine PRIVATE ${KEYBLEND_WARNINGS})
if(KEYBLEND_LIBFUZZER)
  target_compile_definitions(fuzz_engine PRIVATE KEYBLEND_LIBFUZZER=1)
  target_compile_options(fuzz_engine PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_engine PRIVATE -fsanitize=fuzzer)
  target_compile_options(klib PRIVATE -fsanitize=fuzzer-no-link)
endif()
add_test(NAME fuzz.engine_corpus COMMAND fuzz_engine ${CMAKE_CURRENT_SOURCE_DIR}/fuzz-corpus)
