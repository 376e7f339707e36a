# Settings of the native trees of the pure code.
#   default:        tests under ASan/UBSan (QL_SANITIZE);
#   QL_FUZZ=ON:     clang, libFuzzer targets (each also a short CTest run over
#                   its seed corpus);
#   QL_BENCH=ON:    optimised, no sanitizers, benchmarks (scripts/bench.sh).
option(QL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(QL_FUZZ "Build the libFuzzer targets (clang)" OFF)
option(QL_BENCH "Build the benchmarks" OFF)

add_compile_options(-Wall -Wextra -Wno-unused-parameter -g)
if(QL_SANITIZE AND NOT QL_BENCH)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(ql_check_imports target)
endfunction()

# ql_add_fuzz_target(name sources... LIBS libs... [CORPUS dir] [RUNS n])
function(ql_add_fuzz_target name)
  if(NOT QL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "CORPUS;RUNS" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  # New inputs go to the first corpus folder: one in the build tree, so that
  # the committed seeds stay as they are.
  set(work ${CMAKE_CURRENT_BINARY_DIR}/corpus-${name})
  file(MAKE_DIRECTORY ${work})
  set(args -runs=${F_RUNS} -max_total_time=60 ${work})
  if(F_CORPUS)
    list(APPEND args ${F_CORPUS})
  endif()
  add_test(NAME fuzz.${name} COMMAND ${name} ${args})
endfunction()

# ql_add_benchmark(name sources... LIBS libs...): Google Benchmark programs,
# built only in the benchmark tree; they print figures, they are not tests.
function(ql_add_benchmark name)
  if(NOT QL_BENCH)
    return()
  endif()
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
