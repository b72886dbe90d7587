# The module list and how a module is built, shared by every host's build.

# The modules, read from build_scripts/modules.txt (the one list; the scripts
# read it too) by cmake/module_list.cmake. For each module <m>:
#   MEX_MODULE_NAMES            every <m>, in file order
#   MEX_KERNEL_NAME_<m>         its kernel (names the kernel fuzz target)
#   MEX_REFERENCE_<m>           its Octave reference (tests/octave/<ref>.m)
#   MEX_ARGUMENTS_<m>           its argument names (a CMake list)
#   MEX_EXAMPLE_<m>             a valid call's arguments (a CMake list)
#   MEX_EXAMPLE_RESULT_<m>      that call's result (a CMake list)
#   MEX_GATEWAY_SOURCE_<m>      its gateway source (absolute path)
#   MEX_KERNEL_SOURCES          the kernel sources of all modules (absolute)
include(${CMAKE_CURRENT_LIST_DIR}/module_list.cmake)
set(MEX_MODULE_LIST_FILE ${PROJECT_SOURCE_DIR}/build_scripts/modules.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${MEX_MODULE_LIST_FILE})
read_module_list(${MEX_MODULE_LIST_FILE} module_list)
set(MEX_MODULE_NAMES "")
set(MEX_KERNEL_SOURCES "")
foreach(row IN LISTS module_list_ROWS)
  set(fields "${module_list_${row}_FIELDS}")
  list(POP_FRONT fields module kernel reference arguments example result
       gateway)
  list(APPEND MEX_MODULE_NAMES ${module})
  set(MEX_KERNEL_NAME_${module} ${kernel})
  set(MEX_REFERENCE_${module} ${reference})
  string(REPLACE "," ";" MEX_ARGUMENTS_${module} "${arguments}")
  string(REPLACE "|" ";" MEX_EXAMPLE_${module} "${example}")
  string(REPLACE "," ";" MEX_EXAMPLE_RESULT_${module} "${result}")
  set(MEX_GATEWAY_SOURCE_${module} ${PROJECT_SOURCE_DIR}/${gateway})
  foreach(source IN LISTS fields)
    list(APPEND MEX_KERNEL_SOURCES ${PROJECT_SOURCE_DIR}/${source})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES MEX_KERNEL_SOURCES)

# add_mex_module(<target> <source> OUTPUT_NAME <name> SUFFIX <suffix>
#                OUTPUT_DIRECTORY <dir> HOST_INCLUDE <dir>...
#                [HOST_LIBS <libs>...] [HOST_SOURCES <file>...]
#                [HOST_EXPORTS <symbol>...])
# A module: a shared library with the kernels linked in that exports
# mexFunction and nothing else, except the symbols a host requires in every
# MEX file it loads (HOST_EXPORTS, defined in HOST_SOURCES; Octave 11's
# version marker). The target property MEX_EXPORTS holds the whole list, for
# the tests that check the export tables. Symbols are hidden by default; the
# gateway marks mexFunction (MODULE_EXPORT in mex/host_arrays.h), a host's
# source marks its own, and each linker is told the export list its own way:
#   Windows (MSVC, MinGW)  __declspec(dllexport) alone: a DLL exports exactly
#                          what is marked so (MinGW's ld turns its automatic
#                          export of every symbol off when one is marked)
#   macOS (ld64)           -exported_symbols_list with each name (Mach-O
#                          names carry a leading underscore)
#   ELF (GNU ld, gold, lld) a version script: the list global, all else
#                          local
# The list files are written into <build>/mex_exports/, one per list.
function(add_mex_module target source)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;SUFFIX;OUTPUT_DIRECTORY"
                        "HOST_INCLUDE;HOST_LIBS;HOST_SOURCES;HOST_EXPORTS"
                        ${ARGN})
  add_library(${target} MODULE ${source} ${ARG_HOST_SOURCES})
  target_include_directories(${target} PRIVATE ${ARG_HOST_INCLUDE}
                             ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE spike_bin_kernels ${ARG_HOST_LIBS})
  add_warning_flags(${target})
  set(exports mexFunction ${ARG_HOST_EXPORTS})
  # $<1:...> keeps multi-config generators from adding a per-config folder.
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    SUFFIX ${ARG_SUFFIX}
    LIBRARY_OUTPUT_DIRECTORY $<1:${ARG_OUTPUT_DIRECTORY}>
    RUNTIME_OUTPUT_DIRECTORY $<1:${ARG_OUTPUT_DIRECTORY}>
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    MEX_EXPORTS "${exports}")
  list(JOIN exports "-" list_name)
  set(list_file ${PROJECT_BINARY_DIR}/mex_exports/${list_name})
  if(WIN32)
    # dllexport on mexFunction (and the host's symbols) is the whole list.
  elseif(APPLE)
    list(TRANSFORM exports PREPEND _ OUTPUT_VARIABLE names)
    list(JOIN names "\n" text)
    file(CONFIGURE OUTPUT ${list_file}.exp CONTENT "${text}\n")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${list_file}.exp)
    target_link_options(${target} PRIVATE
      "LINKER:-exported_symbols_list,${list_file}.exp")
  else()
    list(JOIN exports ";\n    " text)
    file(CONFIGURE OUTPUT ${list_file}.map
         CONTENT "{\n  global:\n    ${text};\n  local: *;\n};\n")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${list_file}.map)
    target_link_options(${target} PRIVATE
      "LINKER:--version-script=${list_file}.map")
  endif()
endfunction()

# add_mex_host_folder(<dir> <install dir> <module targets>...): the M files
# of toolbox/ next to the modules in <dir> (the modules' help files: the host
# runs the MEX file and prints the comments of the .m file of the same name
# for "help"; Contents.m describes the folder; the spike_glm_* functions and
# their helpers in private/), and the same folder under the install prefix.
function(add_mex_host_folder dir install_dir)
  file(GLOB help_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/toolbox/*.m)
  file(GLOB private_files CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/toolbox/private/*.m)
  foreach(help_file IN LISTS help_files)
    get_filename_component(help_name ${help_file} NAME)
    configure_file(${help_file} ${dir}/${help_name} COPYONLY)
  endforeach()
  foreach(private_file IN LISTS private_files)
    get_filename_component(private_name ${private_file} NAME)
    configure_file(${private_file} ${dir}/private/${private_name} COPYONLY)
  endforeach()
  install(TARGETS ${ARGN}
    LIBRARY DESTINATION ${install_dir} COMPONENT modules
    RUNTIME DESTINATION ${install_dir} COMPONENT modules)
  install(FILES ${help_files} DESTINATION ${install_dir} COMPONENT modules)
  install(FILES ${private_files} DESTINATION ${install_dir}/private
          COMPONENT modules)
endfunction()
