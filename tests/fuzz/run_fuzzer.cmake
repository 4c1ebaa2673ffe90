# Makes the seed corpus with the package writer, then runs the fuzzer for a
# bounded time; any crash or sanitizer report fails the test.
set(seeds ${WORK}/seeds)
set(corpus ${WORK}/corpus)
set(artifacts ${WORK}/artifacts)
file(REMOVE_RECURSE ${seeds})
file(MAKE_DIRECTORY ${seeds} ${corpus} ${artifacts})

execute_process(COMMAND ${SEEDER} ${seeds} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_fuzz_seeds failed: ${result}")
endif()

execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=10
          -dict=${DICT} -artifact_prefix=${artifacts}/ -print_final_stats=1
          ${corpus} ${seeds}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer stopped with ${result}: see the report above; "
                      "the input that caused it is in ${artifacts}")
endif()
