# Runs one end-to-end case of the viewer and compares what it prints.
#
#   cmake -DVIEWER=<jbbview> -DFIXTURE=<viewer_fixture> [-DEMULATOR=<wine>]
#         -DCASE_DIR=<dir with the case files> -DCASE=<name> -DWORK=<dir>
#         -P run_case.cmake
#
# Files of a case, in CASE_DIR:
#   <name>.case  CMake lines setting FIXTURE_ARGS (list: kind, file name;
#                empty for none), VIEW_ARGS (list), EXPECT_RC (0 or 255),
#                and optionally AFTER_FIXTURE (a command run before the
#                viewer, e.g. chattr), CLEANUP (run afterwards), EXPECT_FILE
#                ("present" / "absent" + EXPECT_FILE_NAME), CHECK_ARGS
#                (fixture arguments that check the file afterwards), MERGED
#                (ON: standard error joins standard output in <name>.out).
#   <name>.in    standard input (missing: empty input)
#   <name>.out   expected standard output
#   <name>.err   expected standard error (missing: empty)
# In the expected texts @PROG@ stands for the viewer's file name.  Timings
# vary from run to run, so every "Total ... Time...: <text>" value is
# compared as "@TIME@".  The Windows build writes CRLF line ends, and its
# runtime's dates zero-pad the day ("Jan 01"); both compare in the other
# runtime's form (LF, "Jan  1").

foreach(var VIEWER FIXTURE CASE_DIR CASE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_case.cmake: ${var} is not set")
  endif()
endforeach()

set(FIXTURE_ARGS "")
set(VIEW_ARGS "")
set(EXPECT_RC 0)
set(AFTER_FIXTURE "")
set(CLEANUP "")
set(EXPECT_FILE "")
set(CHECK_ARGS "")
set(MERGED OFF)
include(${CASE_DIR}/${CASE}.case)

set(dir ${WORK}/${CASE})
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})

set(emulator "")
if(EMULATOR)
  set(emulator ${EMULATOR})
endif()

if(FIXTURE_ARGS)
  execute_process(COMMAND ${emulator} ${FIXTURE} ${FIXTURE_ARGS} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "fixture ${FIXTURE_ARGS} failed (${rc}): ${out}${err}")
  endif()
endif()
if(AFTER_FIXTURE)
  execute_process(COMMAND ${AFTER_FIXTURE} WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(WRITE ${dir}/SKIPPED "setup command failed: ${AFTER_FIXTURE}")
    message("SKIPPED: ${AFTER_FIXTURE} is not possible here")
    return()
  endif()
endif()

set(input ${CASE_DIR}/${CASE}.in)
if(NOT EXISTS ${input})
  set(input ${dir}/empty.in)
  file(WRITE ${input} "")
endif()
if(MERGED)
  # Both streams into one pipe, in the order they were written.
  execute_process(COMMAND ${emulator} ${VIEWER} ${VIEW_ARGS} WORKING_DIRECTORY ${dir} INPUT_FILE ${input}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(err "")
else()
  execute_process(COMMAND ${emulator} ${VIEWER} ${VIEW_ARGS} WORKING_DIRECTORY ${dir} INPUT_FILE ${input}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
endif()
if(CLEANUP)
  execute_process(COMMAND ${CLEANUP} WORKING_DIRECTORY ${dir})
endif()

get_filename_component(prog ${VIEWER} NAME)
function(normalise text result)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REGEX REPLACE "(Total [A-Za-z ]*Time *): [^\n]*\n" "\\1: @TIME@\n" text "${text}")
  string(REGEX REPLACE "([A-Z][a-z][a-z] [A-Z][a-z][a-z]) 0([1-9] [0-9][0-9]:)" "\\1  \\2" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()
function(expected name result)
  set(text "")
  if(EXISTS ${CASE_DIR}/${name})
    file(READ ${CASE_DIR}/${name} text)
  endif()
  string(REPLACE "@PROG@" "${prog}" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

normalise("${out}" out)
normalise("${err}" err)
expected(${CASE}.out want_out)
expected(${CASE}.err want_err)
file(WRITE ${dir}/actual.out "${out}")
file(WRITE ${dir}/actual.err "${err}")

set(failed "")
if(NOT rc EQUAL EXPECT_RC)
  string(APPEND failed "exit code ${rc}, expected ${EXPECT_RC}\n")
endif()
if(NOT out STREQUAL want_out)
  string(APPEND failed "standard output differs: diff ${CASE_DIR}/${CASE}.out ${dir}/actual.out\n")
endif()
if(NOT err STREQUAL want_err)
  string(APPEND failed "standard error differs: diff ${CASE_DIR}/${CASE}.err ${dir}/actual.err\n")
endif()
if(EXPECT_FILE STREQUAL "present" AND NOT EXISTS ${dir}/${EXPECT_FILE_NAME})
  string(APPEND failed "${EXPECT_FILE_NAME} was removed\n")
elseif(EXPECT_FILE STREQUAL "absent" AND EXISTS ${dir}/${EXPECT_FILE_NAME})
  string(APPEND failed "${EXPECT_FILE_NAME} was kept\n")
endif()
if(CHECK_ARGS)
  execute_process(COMMAND ${emulator} ${FIXTURE} ${CHECK_ARGS} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE crc OUTPUT_VARIABLE cout ERROR_VARIABLE cerr)
  if(NOT crc EQUAL 0)
    string(APPEND failed "file check ${CHECK_ARGS} failed: ${cout}${cerr}\n")
  endif()
endif()
if(failed)
  message(FATAL_ERROR "case ${CASE}:\n${failed}")
endif()
