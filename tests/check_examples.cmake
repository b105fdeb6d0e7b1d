# Regenerates the sample models into OUT with GEN and compares them with the
# committed ones in SRC, so the samples can always be rebuilt from source.
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${GEN} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_examples failed: ${rc}")
endif()
foreach(model base moved normals uv)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SRC}/${model}.kgx ${OUT}/${model}.kgx
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "examples/${model}.kgx differs from what make_examples writes")
  endif()
endforeach()
