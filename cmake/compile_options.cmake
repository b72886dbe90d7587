# Compile options shared by every target.

# Results are specified to the bit: no fused multiply-add and none of the
# value-changing -ffast-math optimisations, whatever flags the user adds
# (target options come after CMAKE_CXX_FLAGS on the command line, so they win).
# MSVC's /fp:precise neither contracts nor reassociates.
if(MSVC)
  set(EXACT_MATH_FLAGS /fp:precise)
  set(WARNING_FLAGS /W4)
else()
  set(EXACT_MATH_FLAGS -ffp-contract=off -fno-fast-math)
  set(WARNING_FLAGS -Wall -Wextra)
endif()

function(add_exact_math_flags target)
  target_compile_options(${target} PRIVATE ${EXACT_MATH_FLAGS})
endfunction()

function(add_warning_flags target)
  target_compile_options(${target} PRIVATE ${WARNING_FLAGS})
endfunction()
