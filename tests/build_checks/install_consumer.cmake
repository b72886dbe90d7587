# cmake -DBUILD_DIR=<built tree> -DCONFIG=<config> -DWORK_DIR=<scratch>
#       -DCONSUMER_SOURCE=<tests/install_consumer> -DMODULES=<m1|m2>
#       -DGENERATOR=<gen> -DCXX_COMPILER=<c++> -DCXX_FLAGS=<flags>
#       -DEXE_LINKER_FLAGS=<flags> -DCOMPILER_FRONTEND=<GNU|MSVC>
#       [-DOCTAVE_DIR=<dir under prefix> [-DOCTAVE_CLI=<octave>]]
#       [-DMATLAB_DIR=<dir under prefix> -DMATLAB_SUFFIX=<.mexa64>]
#       [-DTOOLCHAIN_FILE=<file> -DPACKAGE_DIR=<dir under prefix>
#        [-DEMULATOR=<cmd|args>]]
#       -P install_consumer.cmake
# Installs the built tree into <scratch>/prefix and checks what a user gets.
string(REPLACE "|" ";" modules "${MODULES}")
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR}
    --prefix ${prefix} --config ${CONFIG})

# require_host_folder(<dir> <module suffix>): every module and help file.
function(require_host_folder dir suffix)
  foreach(file IN LISTS modules)
    foreach(name ${file}${suffix} ${file}.m)
      if(NOT EXISTS ${prefix}/${dir}/${name})
        message(FATAL_ERROR "not installed: ${dir}/${name}")
      endif()
    endforeach()
  endforeach()
  if(NOT EXISTS ${prefix}/${dir}/Contents.m)
    message(FATAL_ERROR "not installed: ${dir}/Contents.m")
  endif()
  message(STATUS "installed host folder: ${dir}")
endfunction()

if(OCTAVE_DIR)
  require_host_folder(${OCTAVE_DIR} .mex)
  if(OCTAVE_CLI)
    # From outside the build tree, only the installed folder on the path.
    file(WRITE ${WORK_DIR}/check_installed.m "
addpath('${prefix}/${OCTAVE_DIR}');
y = tentfill2([4; 8], 4);
if ~isequal(y', [3 4 5 6 7 8 6 4])
  error('tentfill2 gave %s', mat2str(y'));
end
if isempty(strfind(help('tentfill2'), 'nbns'))
  error('tentfill2 has no help text');
end
disp(which('tentfill2'));
")
    run("Octave with the installed folder" ${OCTAVE_CLI} --norc --no-history
        --no-window-system --quiet ${WORK_DIR}/check_installed.m)
    if(NOT run_output MATCHES "${prefix}/${OCTAVE_DIR}/tentfill2.mex")
      message(FATAL_ERROR "Octave ran tentfill2 from elsewhere: ${run_output}")
    endif()
  endif()
endif()
if(MATLAB_DIR)
  require_host_folder(${MATLAB_DIR} ${MATLAB_SUFFIX})
endif()

# The user's flags plus flags that would break exact results: the kernels'
# usage requirements come after them and must undo them.
if(COMPILER_FRONTEND STREQUAL "MSVC")
  set(hostile_flags "/fp:fast")
else()
  set(hostile_flags "-ffast-math -ffp-contract=fast")
endif()
set(consumer_args "")
if(TOOLCHAIN_FILE)
  # A cross toolchain may confine package searches to its own root
  # (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY): name the package folder itself.
  list(APPEND consumer_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
       -Dspike_bins_DIR=${prefix}/${PACKAGE_DIR})
endif()
run("consumer configure" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE}
    -B ${WORK_DIR}/consumer -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=${CONFIG}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} ${hostile_flags}"
    -DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}
    ${consumer_args})
run("consumer build" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer
    --config ${CONFIG})
file(GLOB_RECURSE consumer_program ${WORK_DIR}/consumer/consumer
     ${WORK_DIR}/consumer/consumer.exe)
if(NOT consumer_program)
  message(FATAL_ERROR "the consumer program was not built")
endif()
list(GET consumer_program 0 consumer_program)
if(TOOLCHAIN_FILE AND NOT emulator)
  message(STATUS "consumer run: skipped (cross build without an emulator)")
else()
  run("consumer run" ${emulator} ${consumer_program})
  message(STATUS "${run_output}")
endif()
