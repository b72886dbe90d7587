# cmake -DCOMPILER=<c++> -DCOMPILER_FRONTEND=<GNU|MSVC> -DINCLUDE_DIRS=<a|b|..>
#       -DWORK_DIR=<dir> -P kernel_include_path.cmake
# Compiles (syntax only) a source that includes the kernel headers, which
# must build, and the same source with one host header more, which must fail
# because that header is not found.
string(REPLACE "|" ";" include_dirs "${INCLUDE_DIRS}")
if(COMPILER_FRONTEND STREQUAL "MSVC")
  set(flags /nologo /Zs /std:c++17)
  set(include_flag /I)
else()
  set(flags -fsyntax-only -std=c++17)
  set(include_flag -I)
endif()
foreach(dir IN LISTS include_dirs)
  list(APPEND flags ${include_flag}${dir})
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR})

set(kernel_includes "#include \"common/double_matrix.h\"
#include \"upsampler/upsample_bins.h\"
#include \"spike_filter/spike_filter_sum.h\"
")

# compile(<name> <extra include> <result var> <output var>)
function(compile name extra result_var output_var)
  set(source ${WORK_DIR}/${name}.cpp)
  set(extra_line "")
  if(extra)
    set(extra_line "#include \"${extra}\"\n")
  endif()
  file(WRITE ${source} "${kernel_includes}${extra_line}int main() { return 0; }\n")
  execute_process(COMMAND ${COMPILER} ${flags} ${source}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${out}" PARENT_SCOPE)
endfunction()

compile(kernel_headers "" result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the kernel headers do not compile with the kernel "
    "include path (${include_dirs}):\n${output}")
endif()

# Each host header must be missing itself (GCC, Clang and MSVC wording), not
# merely fail on a header that it includes in turn.
set(failures 0)
set(index 0)
foreach(host_header mex.h mex/host_arrays.h host_standin/standin_host.h)
  math(EXPR index "${index} + 1")
  compile(host_header_${index} ${host_header} result output)
  string(REPLACE "." "\\." pattern "${host_header}")
  set(missing "${pattern}: No such file|'${pattern}' file not found|Cannot open include file: '${pattern}'")
  if(NOT result EQUAL 0 AND output MATCHES "${missing}")
    message(STATUS "not reachable from a kernel: ${host_header}")
  else()
    message(SEND_ERROR "a kernel source reaches ${host_header}; the kernel "
      "include path is ${include_dirs}; the compiler said:\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} host header(s) reachable from the kernels")
endif()
