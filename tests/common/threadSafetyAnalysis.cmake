# Compiles threadSafetyCases.cpp with clang's lock checks: as it is it must
# pass, and with each misuse switched on it must fail with clang's message for
# that misuse. Run with -DCLANGXX=<clang++> -DROOT=<source folder>
# -DSOURCE=<threadSafetyCases.cpp>.
set(cases
  "UNGUARDED_READ|reading variable 'count_' requires holding mutex 'mutex_'"
  "UNGUARDED_WRITE|writing variable 'count_' requires holding mutex 'mutex_' exclusively"
  "WRITE_AFTER_UNLOCK|writing variable 'count_' requires holding mutex 'mutex_' exclusively"
  "CALL_WITHOUT_LOCK|calling function 'AddLocked' requires holding mutex 'mutex_' exclusively"
  "CALL_EXCLUDED|cannot call function 'Add' while mutex 'mutex_' is held"
  "UNMARKED_PREDICATE|reading variable 'count_' requires holding mutex 'mutex_'")

function(check_compile define out_result out_text)
  execute_process(
    COMMAND ${CLANGXX} -std=c++17 -fsyntax-only -Wall -Wextra -Wthread-safety -Werror=thread-safety
      -I${ROOT} ${define} ${SOURCE}
    RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

set(wrong "")
check_compile("" result text)
if(NOT result EQUAL 0 OR NOT text STREQUAL "")
  string(APPEND wrong "\n  the correct uses are not accepted cleanly:\n${text}")
endif()
foreach(entry ${cases})
  string(FIND "${entry}" "|" bar)
  string(SUBSTRING "${entry}" 0 ${bar} case)
  math(EXPR start "${bar} + 1")
  string(SUBSTRING "${entry}" ${start} -1 expected)
  check_compile(-DQUILO_CASE_${case} result text)
  string(FIND "${text}" "${expected}" at)
  if(result EQUAL 0 OR at EQUAL -1)
    string(APPEND wrong "\n  ${case} is not rejected with \"${expected}\":\n${text}")
  endif()
endforeach()
if(wrong)
  message(FATAL_ERROR "clang's lock checks did not behave as expected:${wrong}")
endif()
message(STATUS "every misuse rejected, the correct uses accepted")
