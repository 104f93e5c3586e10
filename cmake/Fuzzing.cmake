# libFuzzer targets (the `fuzz` preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer). Each is registered as a test that fuzzes for
# QUELLAN_FUZZ_SECONDS from its seed corpus; a crash fails the test and leaves
# the input in the build folder. The run is quiet but for its final figures
# and a crash report, which ends with the input in Base64: a log cut short
# still shows what failed and on what.
set(QUELLAN_FUZZ_SECONDS 60 CACHE STRING "Time each fuzz test runs for")

# quellan_add_fuzzer(<name> SOURCES <files...> [LIBRARIES <libs...>] [CORPUS <dirs...>])
function(quellan_add_fuzzer name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES;CORPUS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES})
  quellan_target_options(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.work)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                   $<TARGET_FILE:${name}> -max_total_time=${QUELLAN_FUZZ_SECONDS}
                   -rss_limit_mb=2048 -timeout=10 -artifact_prefix=${work}/
                   -verbosity=0 -print_funcs=0 -print_final_stats=1
                   ${work}/corpus ${arg_CORPUS})
  math(EXPR timeout "${QUELLAN_FUZZ_SECONDS} + 300")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout} LABELS fuzz)
  file(MAKE_DIRECTORY ${work}/corpus)
endfunction()
