# Runs the demo in check mode (cmake -P, the CTest test demo_octave) and
# then requires the README's copy of its printed summary to be what the
# demo prints: every line of the two summaries (from "tentfill2:
# bin-centred upsampling" and from "Population GLM:", each up to the next
# "Figures:") must be a line of the README, indented by four spaces.
# Variables: OCTAVE, MODULE_DIR, DEMO_DIR, TEST_DIR, FIGURE_DIR, README.
execute_process(
  COMMAND ${OCTAVE} --no-history --no-init-file --eval
    "addpath('${MODULE_DIR}', '${DEMO_DIR}', '${TEST_DIR}'); spike_bin_demo('${FIGURE_DIR}', 'check');"
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
message("${output}${errors}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the demo's check failed (exit status ${status})")
endif()

file(READ "${README}" readme)
string(REPLACE ";" "\\;" output "${output}")
string(REPLACE "\n" ";" lines "${output}")
set(in_summary FALSE)
set(checked 0)
set(missing)
foreach(line IN LISTS lines)
  if(line STREQUAL "tentfill2: bin-centred upsampling" OR
     line MATCHES "^Population GLM:")
    set(in_summary TRUE)
  elseif(line MATCHES "^Figures:")
    set(in_summary FALSE)
  endif()
  if(in_summary)
    math(EXPR checked "${checked} + 1")
    string(FIND "${readme}" "\n    ${line}\n" at)
    if(at EQUAL -1)
      string(APPEND missing "\n  ${line}")
    endif()
  endif()
endforeach()
if(checked LESS 15)
  message(FATAL_ERROR "found only ${checked} lines of the demo's summaries")
endif()
if(missing)
  message(FATAL_ERROR "README.md's copy of the demo's summary lacks these "
                      "lines the demo prints:${missing}")
endif()
message("README.md's copy of the demo's summary: all ${checked} lines match")
