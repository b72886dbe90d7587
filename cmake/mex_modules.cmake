# The module list and how a module is built, shared by every host's build.

# The modules, read from build_scripts/modules.txt (the one list; the scripts
# read it too). For each module <m>:
#   MEX_MODULE_NAMES            every <m>, in file order
#   MEX_KERNEL_NAME_<m>         its kernel (names the kernel fuzz target)
#   MEX_GATEWAY_SOURCE_<m>      its gateway source (absolute path)
#   MEX_KERNEL_SOURCES          the kernel sources of all modules (absolute)
set(MEX_MODULE_LIST_FILE ${PROJECT_SOURCE_DIR}/build_scripts/modules.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${MEX_MODULE_LIST_FILE})
file(STRINGS ${MEX_MODULE_LIST_FILE} module_lines REGEX "^[^#]")
set(MEX_MODULE_NAMES "")
set(MEX_KERNEL_SOURCES "")
foreach(line IN LISTS module_lines)
  separate_arguments(fields UNIX_COMMAND "${line}")
  list(LENGTH fields field_count)
  if(field_count LESS 4)
    message(FATAL_ERROR "${MEX_MODULE_LIST_FILE}: a line needs <module> "
      "<kernel> <gateway source> <kernel source>...: '${line}'")
  endif()
  list(POP_FRONT fields module kernel gateway)
  list(APPEND MEX_MODULE_NAMES ${module})
  set(MEX_KERNEL_NAME_${module} ${kernel})
  set(MEX_GATEWAY_SOURCE_${module} ${PROJECT_SOURCE_DIR}/${gateway})
  foreach(source IN LISTS fields)
    list(APPEND MEX_KERNEL_SOURCES ${PROJECT_SOURCE_DIR}/${source})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES MEX_KERNEL_SOURCES)

# add_mex_module(<target> <source> OUTPUT_NAME <name> SUFFIX <suffix>
#                OUTPUT_DIRECTORY <dir> HOST_INCLUDE <dir>...
#                [HOST_LIBS <libs>...])
# A module: a shared library with the kernels linked in that exports
# mexFunction and nothing else. Symbols are hidden by default; the gateway
# marks mexFunction (MODULE_EXPORT in mex/host_arrays.h), and each linker is
# told the export list its own way:
#   Windows (MSVC, MinGW)  __declspec(dllexport) alone: a DLL exports exactly
#                          what is marked so (MinGW's ld turns its automatic
#                          export of every symbol off when one is marked)
#   macOS (ld64)           -exported_symbols_list with _mexFunction (Mach-O
#                          names carry a leading underscore)
#   ELF (GNU ld, gold, lld) a version script: mexFunction global, all else
#                          local
set(MEX_EXPORTS_GNU ${CMAKE_CURRENT_LIST_DIR}/mex_exports.map)
set(MEX_EXPORTS_DARWIN ${CMAKE_CURRENT_LIST_DIR}/mex_exports.exp)
function(add_mex_module target source)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;SUFFIX;OUTPUT_DIRECTORY"
                        "HOST_INCLUDE;HOST_LIBS" ${ARGN})
  add_library(${target} MODULE ${source})
  target_include_directories(${target} PRIVATE ${ARG_HOST_INCLUDE}
                             ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE spike_bin_kernels ${ARG_HOST_LIBS})
  add_warning_flags(${target})
  # $<1:...> keeps multi-config generators from adding a per-config folder.
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    SUFFIX ${ARG_SUFFIX}
    LIBRARY_OUTPUT_DIRECTORY $<1:${ARG_OUTPUT_DIRECTORY}>
    RUNTIME_OUTPUT_DIRECTORY $<1:${ARG_OUTPUT_DIRECTORY}>
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    # dllexport on mexFunction is the whole export list.
  elseif(APPLE)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${MEX_EXPORTS_DARWIN})
    target_link_options(${target} PRIVATE
      "LINKER:-exported_symbols_list,${MEX_EXPORTS_DARWIN}")
  else()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${MEX_EXPORTS_GNU})
    target_link_options(${target} PRIVATE
      "LINKER:--version-script=${MEX_EXPORTS_GNU}")
  endif()
endfunction()

# add_mex_host_folder(<dir> <install dir> <module targets>...): the help files
# next to the modules in <dir> (the host runs the MEX file and prints the
# comments of the .m file of the same name for "help"; Contents.m describes
# the folder), and the same folder under the install prefix.
function(add_mex_host_folder dir install_dir)
  file(GLOB help_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/toolbox/*.m)
  foreach(help_file IN LISTS help_files)
    get_filename_component(help_name ${help_file} NAME)
    configure_file(${help_file} ${dir}/${help_name} COPYONLY)
  endforeach()
  install(TARGETS ${ARGN}
    LIBRARY DESTINATION ${install_dir} COMPONENT modules
    RUNTIME DESTINATION ${install_dir} COMPONENT modules)
  install(FILES ${help_files} DESTINATION ${install_dir} COMPONENT modules)
endfunction()
