# Runs lspreplay on CATALOG and compares its output with EXPECTED; block
# addresses in the trace differ from run to run and are compared as "*".
execute_process(COMMAND ${REPLAY} ${CATALOG} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lspreplay exited with ${rc}")
endif()
string(REGEX REPLACE "(compl[ae]te):\\[[0-9a-f]+\\]" "\\1:[*]" out "${out}")
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "output differs:\n${out}")
endif()
