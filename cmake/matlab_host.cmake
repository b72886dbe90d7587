# MATLAB: every module of the module list as a MEX file (.mexa64, .mexmaci64,
# .mexw64, ...) with their help files, in MATLAB_MODULE_DIR
# (<build>/matlab_modules), so that addpath of that folder is all a user
# needs; installed to SPIKE_BINS_MATLAB_INSTALL_DIR under the prefix. Configured only
# when CMake's FindMatlab finds a MATLAB installation (set Matlab_ROOT_DIR to
# pick one); otherwise skipped.
#
# API choice: R2017b, the separate-complex API with 64-bit dimensions. The
# gateways read every argument through mxGetPr, which in this API returns the
# real part of a complex array (the interleaved R2018a API refuses mxGetPr on
# complex arrays), and they take host sizes as size_t, refusing dimensions
# beyond 2^31 - 1 themselves instead of relying on -compatibleArrayDims.
set(MATLAB_MODULES_ENABLED FALSE)
set(MATLAB_MODULE_DIR ${PROJECT_BINARY_DIR}/matlab_modules)
set(SPIKE_BINS_MATLAB_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/spike_bins/matlab CACHE STRING
    "Install folder of the MATLAB modules and help files, under the prefix")
if(NOT SPIKE_BINS_BUILD_MATLAB)
  return()
endif()

find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
if(NOT Matlab_FOUND)
  message(STATUS "MATLAB modules: MATLAB not found, skipping them "
                 "(set Matlab_ROOT_DIR to a MATLAB installation to build them)")
  return()
endif()

set(matlab_targets "")
foreach(module IN LISTS MEX_MODULE_NAMES)
  set(target matlab_${module})
  # matlab_add_mex brings MATLAB's headers and libmx/libmex and its own
  # export list (mexFunction and the API version symbol) for each platform.
  # Its DOCUMENTATION option is not used: it adds the file to the target's
  # sources, and in a project with C enabled a .m file is then compiled as C.
  matlab_add_mex(NAME ${target} MODULE
    SRC ${MEX_GATEWAY_SOURCE_${module}}
    OUTPUT_NAME ${module}
    LINK_TO spike_bin_kernels
    R2017b)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  add_warning_flags(${target})
  # $<1:...> keeps multi-config generators from adding a per-config folder.
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY $<1:${MATLAB_MODULE_DIR}>
    RUNTIME_OUTPUT_DIRECTORY $<1:${MATLAB_MODULE_DIR}>)
  list(APPEND matlab_targets ${target})
endforeach()
add_mex_host_folder(${MATLAB_MODULE_DIR} ${SPIKE_BINS_MATLAB_INSTALL_DIR} ${matlab_targets})
set(MATLAB_MODULES_ENABLED TRUE)

message(STATUS "MATLAB modules: building into ${MATLAB_MODULE_DIR} "
               "(MATLAB ${Matlab_VERSION_STRING} at ${Matlab_ROOT_DIR})")
