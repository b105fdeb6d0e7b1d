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
