# Building a module: a shared library that exports mexFunction and nothing
# else (hidden visibility plus a version script), with the kernels linked in.

set(MEX_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/mex_exports.map)

# add_mex_module(<target> <source> OUTPUT_NAME <name> SUFFIX <suffix>
#                OUTPUT_DIRECTORY <dir> HOST_INCLUDE <dir> [HOST_LIBS <libs>...])
function(add_mex_module target source)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;SUFFIX;OUTPUT_DIRECTORY"
                        "HOST_INCLUDE;HOST_LIBS" ${ARGN})
  add_library(${target} MODULE ${source})
  target_include_directories(${target} PRIVATE ${ARG_HOST_INCLUDE}
                             ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE spike_bin_kernels ${ARG_HOST_LIBS})
  add_exact_math_flags(${target})
  add_warning_flags(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    SUFFIX ${ARG_SUFFIX}
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${MEX_EXPORTS_MAP})
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${MEX_EXPORTS_MAP})
endfunction()

# The modules and the gateway source of each, shared by every host's build.
set(MEX_MODULE_NAMES tentfill2 trainfold_mex)
get_filename_component(MEX_GATEWAY_SOURCE_tentfill2
  ${CMAKE_CURRENT_LIST_DIR}/../upsampler/tentfill2_gateway.cpp ABSOLUTE)
get_filename_component(MEX_GATEWAY_SOURCE_trainfold_mex
  ${CMAKE_CURRENT_LIST_DIR}/../spike_filter/trainfold_mex_gateway.cpp ABSOLUTE)

# copy_help_files(<dir>): the help files next to the modules. The host runs
# the MEX file and prints the comments of the .m file of the same name for
# "help"; Contents.m describes the folder.
function(copy_help_files dir)
  file(GLOB help_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/toolbox/*.m)
  foreach(help_file IN LISTS help_files)
    get_filename_component(help_name ${help_file} NAME)
    configure_file(${help_file} ${dir}/${help_name} COPYONLY)
  endforeach()
endfunction()
