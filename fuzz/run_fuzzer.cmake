# Runs one fuzzer for a bounded time on a working copy of its seed corpus; any crash, leak or
# sanitizer report fails the test and leaves the input in the working directory.
file(MAKE_DIRECTORY ${WORK})
if(EXISTS ${SEEDS})
  file(GLOB seeds ${SEEDS}/*)
  if(seeds)
    file(COPY ${seeds} DESTINATION ${WORK})
  endif()
endif()
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix=${WORK}/../ ${WORK}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a failure (exit ${rc}); see the artifact next to ${WORK}")
endif()
