# Installs a build into a temporary prefix, then configures, builds and runs
# the consumer project against it; the temporary folder goes in any case.
#   cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... [-DFLAGS=...] -P run.cmake
foreach(var BUILD_DIR CONSUMER_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${out}")
  if(NOT result EQUAL 0)
    file(REMOVE_RECURSE ${WORK_DIR})
    message(FATAL_ERROR "failed (${result}): ${ARGV}")
  endif()
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE pc_files ${prefix}/*/voktools.pc)
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
step(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir}
  ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G Ninja -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_C_FLAGS=${FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
# The programs find the library through the run path the build gave them.
step(${WORK_DIR}/build/consumer)
step(${WORK_DIR}/build/consumer_c)
file(REMOVE_RECURSE ${WORK_DIR})
