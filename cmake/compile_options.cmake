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
# 32-bit x86 computes doubles in x87 registers by default, which
# common/exact_math_guard.h refuses: select SSE2 math there (MSVC's default).
if(NOT MSVC AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND
   CMAKE_SYSTEM_PROCESSOR MATCHES "^([iI][3-6]86|x86|X86)$")
  list(APPEND EXACT_MATH_FLAGS -msse2 -mfpmath=sse)
endif()

function(add_exact_math_flags target)
  target_compile_options(${target} PRIVATE ${EXACT_MATH_FLAGS})
endfunction()

function(add_warning_flags target)
  target_compile_options(${target} PRIVATE ${WARNING_FLAGS})
endfunction()
