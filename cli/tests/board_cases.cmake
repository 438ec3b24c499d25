# Runs a lab program headless with a board attached and compares the board log with what
# the program must show. Arguments: RUNNER, CASE, BOARD, DATA_DIR, WORK_DIR. The program is
# DATA_DIR/CASE.asm (built in WORK_DIR), the expected log DATA_DIR/CASE.log, and
# DATA_DIR/CASE.in, when there is one, the board input.
set(work "${WORK_DIR}/board-${CASE}")
file(MAKE_DIRECTORY "${work}")
file(COPY_FILE "${DATA_DIR}/${CASE}.asm" "${work}/${CASE}.asm")
set(args --board "${BOARD}" "--board-log=${work}/board.log")
if(EXISTS "${DATA_DIR}/${CASE}.in")
  list(APPEND args --board-input "${DATA_DIR}/${CASE}.in")
endif()
execute_process(COMMAND "${RUNNER}" ${args} --max-steps 10000000 "${work}/${CASE}.asm"
                RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CASE}: exit status ${status}\n${errors}")
endif()
file(READ "${work}/board.log" actual)
file(READ "${DATA_DIR}/${CASE}.log" expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "${CASE}: the board log is\n${actual}\nbut should be\n${expected}")
endif()
