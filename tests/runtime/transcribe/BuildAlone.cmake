# Configures SOURCE as a top-level project into an emptied BINARY folder and builds it
# (unoptimised: only whether it builds counts).
file(REMOVE_RECURSE ${BINARY})
set(options -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${C})
if(LAUNCHER)
  list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER})
endif()
if(WERROR)
  list(APPEND options -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} ${options} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} -j2 COMMAND_ERROR_IS_FATAL ANY)
