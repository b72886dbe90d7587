# GNU Octave: a <module>.mex for every module of the module list, built with
# this project's compiler and flags against Octave's MEX header, plus the help
# files, all in OCTAVE_MODULE_DIR (<build>/octave_modules) so that addpath of
# that folder is all a user needs; installed to SPIKE_BINS_OCTAVE_INSTALL_DIR
# under the prefix.
#
# Octave's own "mkoctfile --mex" compiles with its packager's flags; here the
# modules (and the spike_bin_kernels objects they link) keep the project's
# exact-math flags. Only the header path and the link flags come from
# mkoctfile. Not when cross-compiling (SPIKE_BINS_BUILD_OCTAVE is then OFF):
# mkoctfile and the interpreter describe the build machine, not the target.
#
# Sets, for the rest of the build (this file is included from the top level
# before any subdirectory):
#   OCTAVE_MODULES_ENABLED   TRUE when the modules are built
#   OCTAVE_MODULE_DIR        the folder they are built into
#   OCTAVE_CLI_EXECUTABLE    Octave's interpreter, for the tests (may be unset)
#   add_octave_mex_module()  (below), also used by the benchmarks
set(OCTAVE_MODULES_ENABLED FALSE)
set(OCTAVE_MODULE_DIR ${PROJECT_BINARY_DIR}/octave_modules)
set(SPIKE_BINS_OCTAVE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/spike_bins/octave CACHE STRING
    "Install folder of the Octave modules and help files, under the prefix")
if(NOT SPIKE_BINS_BUILD_OCTAVE)
  return()
endif()

find_program(MKOCTFILE_EXECUTABLE NAMES mkoctfile
             DOC "Octave's mkoctfile (supplies Octave's include and link flags)")
find_program(OCTAVE_CLI_EXECUTABLE NAMES octave-cli octave
             DOC "Octave's interpreter (runs the Octave tests and the demo)")
if(NOT MKOCTFILE_EXECUTABLE)
  message(STATUS "Octave modules: mkoctfile not found, skipping them "
                 "(install Octave's development files: Debian's octave-dev, "
                 "liboctave-dev before Debian 13)")
  return()
endif()

# mkoctfile -p <VAR> [OPTIONAL] prints one of Octave's build variables;
# OPTIONAL: a variable older Octave versions do not know (then empty).
function(mkoctfile_variable out_var name)
  execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p ${name}
                  OUTPUT_VARIABLE value ERROR_VARIABLE error_text
                  RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    if(NOT "${ARGN}" STREQUAL "OPTIONAL")
      message(STATUS "Octave modules: mkoctfile -p ${name} failed: ${error_text}")
    endif()
    set(value "")
  endif()
  separate_arguments(value UNIX_COMMAND "${value}")
  set(${out_var} "${value}" PARENT_SCOPE)
endfunction()

# Include directories: the -I entries of INCFLAGS (the folder that holds
# Octave's mex.h among them).
mkoctfile_variable(octave_incflags INCFLAGS)
set(OCTAVE_MEX_INCLUDE_DIRS "")
foreach(flag IN LISTS octave_incflags)
  if(flag MATCHES "^-I(.+)$")
    list(APPEND OCTAVE_MEX_INCLUDE_DIRS "${CMAKE_MATCH_1}")
  endif()
endforeach()
set(octave_mex_header "")
foreach(dir IN LISTS OCTAVE_MEX_INCLUDE_DIRS)
  if(EXISTS "${dir}/mex.h")
    set(octave_mex_header "${dir}/mex.h")
    break()
  endif()
endforeach()
if(NOT octave_mex_header)
  message(STATUS "Octave modules: no mex.h under mkoctfile's INCFLAGS "
                 "(${octave_incflags}), skipping them")
  return()
endif()

# Link flags as "mkoctfile --mex" uses them: DL_LDFLAGS (-shared
# -Wl,-Bsymbolic on GNU/Linux; CMake's MODULE libraries add -shared
# themselves). Up to Octave 10, MEX files are not linked against Octave's
# libraries on GNU/Linux: the mx*/mex* symbols resolve against the running
# interpreter. Octave 11 adds liboctmex (below).
mkoctfile_variable(OCTAVE_MEX_LINK_FLAGS DL_LDFLAGS)
list(REMOVE_ITEM OCTAVE_MEX_LINK_FLAGS -shared)
# OCT_LINK_DEPS: the Octave libraries mkoctfile links into a module where
# the platform needs them (empty on GNU/Linux; Octave's own libraries on
# Windows and macOS), after the objects like any library.
mkoctfile_variable(OCTAVE_MEX_LINK_DEPS OCT_LINK_DEPS)

# Octave 11 and later load a MEX file only when it defines
#   extern "C" const int __octave_mex_soversion__ = <SOVERSION of liboctmex>;
# and is linked against liboctmex ("No SOVERSION found in .mex file"
# otherwise). Their mkoctfile compiles that definition into every MEX file
# and names the library in LIBOCTMEX; older versions know no LIBOCTMEX and
# need neither, and there mexFunction stays the only export. The SOVERSION
# is the first number after the library's .so (libtool's naming: the
# library liboctmex.so.1.0.1 has the SONAME liboctmex.so.1), or the number
# before .dylib on macOS.
mkoctfile_variable(octave_libs_mex LIBOCTMEX OPTIONAL)
set(OCTAVE_MEX_HOST_SOURCES "")
set(OCTAVE_MEX_HOST_EXPORTS "")
set(OCTAVE_MEX_HOST_LIBS "")
if(octave_libs_mex)
  mkoctfile_variable(octave_libdir OCTLIBDIR)
  set(octave_libmex_dirs ${octave_libdir})
  foreach(flag IN LISTS octave_libs_mex)
    if(flag MATCHES "^-L(.+)$")
      list(APPEND octave_libmex_dirs "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  foreach(flag IN LISTS octave_libs_mex)
    if(flag MATCHES "^-l(.+)$")
      set(library_name ${CMAKE_MATCH_1})
      find_library(OCTAVE_LIB_${library_name} NAMES ${library_name}
                   PATHS ${octave_libmex_dirs} NO_DEFAULT_PATH)
      if(NOT OCTAVE_LIB_${library_name})
        message(WARNING "Octave modules: lib${library_name} (mkoctfile's "
          "LIBOCTMEX) not found in ${octave_libmex_dirs}; skipping them")
        return()
      endif()
      list(APPEND OCTAVE_MEX_HOST_LIBS ${OCTAVE_LIB_${library_name}})
    elseif(NOT flag MATCHES "^-L")
      list(APPEND OCTAVE_MEX_HOST_LIBS ${flag})
    endif()
  endforeach()
  set(octave_mex_soversion "")
  foreach(library IN LISTS OCTAVE_MEX_HOST_LIBS)
    get_filename_component(real_name "${library}" REALPATH)
    get_filename_component(real_name "${real_name}" NAME)
    # Two tests, not one with OR: each MATCHES resets CMAKE_MATCH_<n>.
    if(real_name MATCHES "^liboctmex\\.so\\.([0-9]+)")
      set(octave_mex_soversion ${CMAKE_MATCH_1})
    elseif(real_name MATCHES "^liboctmex\\.([0-9]+)(\\.[0-9]+)*\\.dylib$")
      set(octave_mex_soversion ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if("${octave_mex_soversion}" STREQUAL "")
    message(WARNING "Octave modules: no SOVERSION in the file name of "
      "liboctmex (${OCTAVE_MEX_HOST_LIBS}), which this Octave requires in "
      "every MEX file; skipping them")
    return()
  endif()
  set(OCTAVE_MEX_SOVERSION ${octave_mex_soversion})
  set(marker_source ${PROJECT_BINARY_DIR}/octave_mex_soversion.cpp)
  file(CONFIGURE OUTPUT ${marker_source} CONTENT [[
// Generated by cmake/octave_host.cmake: the SOVERSION of the liboctmex the
// Octave modules are linked against, which Octave checks before it runs a
// MEX file.
#if defined(_WIN32)
#define OCTAVE_MEX_MARKER_EXPORT __declspec(dllexport)
#else
#define OCTAVE_MEX_MARKER_EXPORT __attribute__((visibility("default")))
#endif
extern "C" {
OCTAVE_MEX_MARKER_EXPORT extern const int __octave_mex_soversion__;
const int __octave_mex_soversion__ = @OCTAVE_MEX_SOVERSION@;
}
]] @ONLY)
  set(OCTAVE_MEX_HOST_SOURCES ${marker_source})
  set(OCTAVE_MEX_HOST_EXPORTS __octave_mex_soversion__)
endif()

# add_octave_mex_module(<target> <source> <output name> <output dir>): a
# module for Octave.
function(add_octave_mex_module target source output_name output_dir)
  add_mex_module(${target} ${source}
    OUTPUT_NAME ${output_name}
    SUFFIX .mex
    OUTPUT_DIRECTORY ${output_dir}
    HOST_INCLUDE ${OCTAVE_MEX_INCLUDE_DIRS}
    HOST_LIBS ${OCTAVE_MEX_HOST_LIBS}
    HOST_SOURCES ${OCTAVE_MEX_HOST_SOURCES}
    HOST_EXPORTS ${OCTAVE_MEX_HOST_EXPORTS})
  target_link_options(${target} PRIVATE ${OCTAVE_MEX_LINK_FLAGS})
  target_link_libraries(${target} PRIVATE ${OCTAVE_MEX_LINK_DEPS})
endfunction()

set(octave_targets "")
foreach(module IN LISTS MEX_MODULE_NAMES)
  add_octave_mex_module(octave_${module} ${MEX_GATEWAY_SOURCE_${module}}
    ${module} ${OCTAVE_MODULE_DIR})
  list(APPEND octave_targets octave_${module})
endforeach()
add_mex_host_folder(${OCTAVE_MODULE_DIR} ${SPIKE_BINS_OCTAVE_INSTALL_DIR} ${octave_targets})
set(OCTAVE_MODULES_ENABLED TRUE)

if(OCTAVE_MEX_HOST_EXPORTS)
  set(octave_marker_note ", with __octave_mex_soversion__ = ${OCTAVE_MEX_SOVERSION}")
else()
  set(octave_marker_note "")
endif()
message(STATUS "Octave modules: building into ${OCTAVE_MODULE_DIR} "
               "(mex.h: ${octave_mex_header}${octave_marker_note})")
