# Runs lspreplay on CATALOG (with --windows WINDOWS when given, before the
# catalog's name) and compares its output with EXPECTED; block addresses in
# the trace differ from run to run and are compared as "*". With LEFT, the
# catalog left after the run must equal that file. With ERROR, the input
# must be refused: exit code 2 and a message on standard error that matches
# the regular expression ERROR.
if(WINDOWS)
  set(windows_args --windows ${WINDOWS})
endif()
if(LEFT)
  set(left_args --left ${LEFT_OUT})
endif()
execute_process(COMMAND ${REPLAY} ${windows_args} ${CATALOG} ${left_args}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(ERROR)
  if(NOT rc EQUAL 2 OR NOT err MATCHES "${ERROR}")
    message(FATAL_ERROR "lspreplay exited with ${rc}: ${err}")
  endif()
  return()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lspreplay exited with ${rc}: ${err}")
endif()
string(REGEX REPLACE "(compl[ae]te):\\[[0-9a-f]+\\]" "\\1:[*]" out "${out}")
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "output differs:\n${out}")
endif()
if(LEFT)
  file(READ ${LEFT_OUT} left_out)
  file(READ ${LEFT} left_expected)
  if(NOT left_out STREQUAL left_expected)
    message(FATAL_ERROR "catalog left differs:\n${left_out}")
  endif()
endif()
