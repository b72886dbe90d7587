# Compile options shared by the project's targets.

# Results are defined to the bit: no fused multiply-add and none of the
# value-changing -ffast-math optimisations, whatever flags the user adds.
# GCC and Clang take the flags of build_scripts/exact_math_flags.txt (one
# line, also read by build_mex.m and the Octave package); MSVC's /fp:precise
# neither contracts nor reassociates. The flags are the usage requirement of
# the INTERFACE target spike_bin_exact_math, which the kernel library links
# PUBLIC: every target that links the kernels (or the C++ reference) gets
# them. Target options come after CMAKE_CXX_FLAGS and
# CMAKE_CXX_FLAGS_<CONFIG> on the command line, and a dependency's options
# after the target's own, so these win over the user's.
set(EXACT_MATH_FLAGS_FILE ${PROJECT_SOURCE_DIR}/build_scripts/exact_math_flags.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${EXACT_MATH_FLAGS_FILE})
file(STRINGS ${EXACT_MATH_FLAGS_FILE} exact_math_gnu_flags LIMIT_COUNT 1)
separate_arguments(exact_math_gnu_flags UNIX_COMMAND "${exact_math_gnu_flags}")

add_library(spike_bin_exact_math INTERFACE)
set_target_properties(spike_bin_exact_math PROPERTIES EXPORT_NAME exact_math)
target_compile_options(spike_bin_exact_math INTERFACE
  $<$<CXX_COMPILER_ID:MSVC>:/fp:precise>)
foreach(flag IN LISTS exact_math_gnu_flags)
  target_compile_options(spike_bin_exact_math INTERFACE
    $<$<NOT:$<CXX_COMPILER_ID:MSVC>>:${flag}>)
endforeach()
# 32-bit x86 computes doubles in x87 registers by default, which
# common/exact_math_guard.h refuses: select SSE2 math there (MSVC's default).
if(NOT MSVC AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND
   CMAKE_SYSTEM_PROCESSOR MATCHES "^([iI][3-6]86|x86|X86)$")
  target_compile_options(spike_bin_exact_math INTERFACE -msse2 -mfpmath=sse)
endif()

if(MSVC)
  set(WARNING_FLAGS /W4)
else()
  set(WARNING_FLAGS -Wall -Wextra)
endif()

function(add_warning_flags target)
  target_compile_options(${target} PRIVATE ${WARNING_FLAGS})
endfunction()
