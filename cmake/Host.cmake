# The source manager (libtwain_32.so) is loaded at run time and shares the process's one
# platform layer (message queue, global memory) with the program that loads it. A host
# executable therefore carries the whole platform library and exports its symbols, so the
# dlopen'ed library resolves them against the host; the program stays a single file that
# runs from any folder.
function(lumipage_host_executable target)
  target_link_libraries(${target} PRIVATE lumi_platform)
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" "$<TARGET_FILE:lumi_platform>" "LINKER:--no-whole-archive")
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

# One GoogleTest executable per folder under tests/.
function(lumipage_test name)
  cmake_parse_arguments(T "HOST" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} lumi_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    LUMIPAGE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    LUMIPAGE_BUILD_DIR="${CMAKE_BINARY_DIR}")
  if(T_HOST)
    lumipage_host_executable(${name})
  endif()
  # SOURCE_DATE_EPOCH of a package build would fix every date the tests expect to be today's; the
  # tests that want it set it themselves.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ENVIRONMENT "SOURCE_DATE_EPOCH=")
endfunction()
