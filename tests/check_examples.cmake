# Regenerates the sample models into OUT with GEN and compares them with the
# committed ones in SRC, so that the samples can always be rebuilt from source.
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${GEN} ${OUT} COMMAND_ERROR_IS_FATAL ANY)
file(GLOB models RELATIVE ${SRC} ${SRC}/*.kgx)
foreach(model ${models})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SRC}/${model} ${OUT}/${model}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
