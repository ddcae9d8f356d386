# Builds the CMake example project of docs/morvanec.md with the morvanec of
# this build, changes its schema and builds again: the header follows the
# schema and the program the header.
#   cmake -DMORVANEC=... -DEXAMPLE=... -DWORK=... -P example_project.cmake
file(REMOVE_RECURSE ${WORK})
file(COPY ${EXAMPLE}/ DESTINATION ${WORK}/src)

function(build_and_run expected)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the example does not build:\n${out}")
  endif()
  execute_process(COMMAND ${WORK}/build/record_client RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "${expected}\n")
    message(FATAL_ERROR "record_client printed \"${out}\" (status ${rc}), not \"${expected}\"")
  endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK}/src -B ${WORK}/build -DMORVANEC=${MORVANEC}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example does not configure:\n${out}")
endif()
build_and_run("schema 7, record of 28 bytes")

file(READ ${WORK}/src/schemas/PosRec.xsd schema)
string(REPLACE "name=\"count\" type=\"int\"" "name=\"count\" type=\"int16\"" schema "${schema}")
string(REPLACE "id=\"7\"" "id=\"8\"" schema "${schema}")
file(WRITE ${WORK}/src/schemas/PosRec.xsd "${schema}")
build_and_run("schema 8, record of 26 bytes")
file(REMOVE_RECURSE ${WORK})
