# Runs a lab program headless with a board attached and compares the board log with what
# the program must show. Arguments: RUNNER, CASE, BOARD, DATA_DIR, WORK_DIR; optionally
# SOURCE_DIR (where CASE.asm is, DATA_DIR unless given), MAX_STEPS (the run must end within
# them, 10000000 unless given) and MIN_STEPS (a run limited to them must not end: the
# program takes at least that long). The program is built in WORK_DIR; the expected log
# is DATA_DIR/CASE.log, or what DATA_DIR/CASE.cmake puts in `expected`; DATA_DIR/CASE.in,
# when there is one, is the board input.
set(work "${WORK_DIR}/board-${CASE}")
file(MAKE_DIRECTORY "${work}")
if(NOT SOURCE_DIR)
  set(SOURCE_DIR "${DATA_DIR}")
endif()
if(NOT MAX_STEPS)
  set(MAX_STEPS 10000000)
endif()
file(COPY_FILE "${SOURCE_DIR}/${CASE}.asm" "${work}/${CASE}.asm")
set(args --board "${BOARD}" "--board-log=${work}/board.log")
if(EXISTS "${DATA_DIR}/${CASE}.in")
  list(APPEND args --board-input "${DATA_DIR}/${CASE}.in")
endif()
execute_process(COMMAND "${RUNNER}" ${args} --max-steps ${MAX_STEPS} "${work}/${CASE}.asm"
                RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CASE}: exit status ${status}\n${errors}")
endif()
file(READ "${work}/board.log" actual)
if(EXISTS "${DATA_DIR}/${CASE}.cmake")
  include("${DATA_DIR}/${CASE}.cmake")
else()
  file(READ "${DATA_DIR}/${CASE}.log" expected)
endif()
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "${CASE}: the board log is\n${actual}\nbut should be\n${expected}")
endif()
if(MIN_STEPS)
  execute_process(COMMAND "${RUNNER}" ${args} --max-steps ${MIN_STEPS} "${work}/${CASE}.asm"
                  RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
  if(NOT status EQUAL 3)
    message(FATAL_ERROR "${CASE}: ended within ${MIN_STEPS} steps (status ${status}): too soon")
  endif()
endif()
