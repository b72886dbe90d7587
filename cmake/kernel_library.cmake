# The host-free kernels as the library spike_bin_kernels (exported as
# spike_bins::kernels), with its install rules and package files.

# Include path. The kernels and everything that uses them include the kernel
# headers as "common/..." and "<module folder>/..." (the folders of the
# module list's kernel sources). The repository root cannot be the include
# path: it would also reach mex/ (the host-side helpers) and host_standin/.
# Instead the build folder holds a tree of one-line forwarding headers, one
# per header in those folders, and
# that tree is the library's include path, so a kernel that includes mex.h or
# anything under mex/ does not build (tests/build_checks checks this). The
# forwarding headers name the real files, so diagnostics point at them.
set(KERNEL_HEADER_DIRS common)
foreach(source IN LISTS MEX_KERNEL_SOURCES)
  file(RELATIVE_PATH source ${PROJECT_SOURCE_DIR} ${source})
  get_filename_component(source_dir ${source} DIRECTORY)
  list(APPEND KERNEL_HEADER_DIRS ${source_dir})
endforeach()
list(REMOVE_DUPLICATES KERNEL_HEADER_DIRS)
set(KERNEL_INCLUDE_DIR ${PROJECT_BINARY_DIR}/kernel_include)
set(KERNEL_HEADERS "")
foreach(header_dir IN LISTS KERNEL_HEADER_DIRS)
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
       ${PROJECT_SOURCE_DIR}/${header_dir}/*.h)
  list(APPEND KERNEL_HEADERS ${headers})
endforeach()
foreach(header IN LISTS KERNEL_HEADERS)
  file(CONFIGURE OUTPUT ${KERNEL_INCLUDE_DIR}/${header}
       CONTENT "#include \"${PROJECT_SOURCE_DIR}/${header}\"\n" @ONLY)
endforeach()

# The modules' kernel sources and the report of the copy in use.
set(KERNEL_LIBRARY_SOURCES ${MEX_KERNEL_SOURCES}
    ${PROJECT_SOURCE_DIR}/common/kernel_copy.cpp)
# Position-independent so that the host modules can link it in.
add_library(spike_bin_kernels STATIC ${KERNEL_LIBRARY_SOURCES})
add_library(spike_bins::kernels ALIAS spike_bin_kernels)
target_include_directories(spike_bin_kernels PUBLIC
  $<BUILD_INTERFACE:${KERNEL_INCLUDE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/spike_bins>)
target_link_libraries(spike_bin_kernels PUBLIC spike_bin_exact_math)
target_compile_features(spike_bin_kernels PUBLIC cxx_std_17)
set_target_properties(spike_bin_kernels PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  EXPORT_NAME kernels)
add_warning_flags(spike_bin_kernels)

# The same kernels with fewer copies, for the tests: on an AVX-512 machine
# the library above always runs its AVX-512 copy. spike_bin_kernels_baseline
# has only the baseline copy and spike_bin_kernels_avx2 no AVX-512 copy (so
# it runs its AVX2 copy there). Built only where there are several copies
# (x86-64, GCC or Clang) and only for the test programs; the AVX2 one only
# where the shipped library has an AVX-512 copy (not on Windows).
function(add_kernel_test_library name definition)
  add_library(${name} STATIC EXCLUDE_FROM_ALL ${KERNEL_LIBRARY_SOURCES})
  target_include_directories(${name} PUBLIC ${KERNEL_INCLUDE_DIR})
  target_compile_definitions(${name} PUBLIC ${definition})
  target_link_libraries(${name} PUBLIC spike_bin_exact_math)
  target_compile_features(${name} PUBLIC cxx_std_17)
  add_warning_flags(${name})
endfunction()
set(KERNEL_BASELINE_LIBRARY "")
set(KERNEL_AVX2_LIBRARY "")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND
   CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND
   CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_kernel_test_library(spike_bin_kernels_baseline SPIKE_BINS_NO_AVX2_COPY)
  set(KERNEL_BASELINE_LIBRARY spike_bin_kernels_baseline)
  if(NOT WIN32)
    add_kernel_test_library(spike_bin_kernels_avx2 SPIKE_BINS_NO_AVX512_COPY)
    set(KERNEL_AVX2_LIBRARY spike_bin_kernels_avx2)
  endif()
endif()

# Installed: the library, its headers under include/spike_bins/ (included as
# "upsampler/upsample_bins.h" and so on, as in the build), and a package
# config so that find_package(spike_bins) gives spike_bins::kernels (with
# the exact-math flags as its usage requirement).
set(SPIKE_BINS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/spike_bins)
foreach(header IN LISTS KERNEL_HEADERS)
  get_filename_component(header_dir ${header} DIRECTORY)
  install(FILES ${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/spike_bins/${header_dir}
    COMPONENT development)
endforeach()
install(TARGETS spike_bin_kernels spike_bin_exact_math EXPORT spike_bins_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT spike_bins_targets NAMESPACE spike_bins::
  FILE spike_binsTargets.cmake DESTINATION ${SPIKE_BINS_CMAKE_DIR}
  COMPONENT development)
include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/spike_binsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/spike_binsConfig.cmake
  INSTALL_DESTINATION ${SPIKE_BINS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/spike_binsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/spike_binsConfig.cmake
  ${PROJECT_BINARY_DIR}/spike_binsConfigVersion.cmake
  DESTINATION ${SPIKE_BINS_CMAKE_DIR} COMPONENT development)
