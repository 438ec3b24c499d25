# Bad arguments and unreadable or oversized programs: exit status 2, one line saying what is
# wrong, nothing run. The boundary case, a program of exactly 64 KB, must be accepted.
# Arguments: RUNNER, WORK_DIR.
function(expect_run expected_exit stderr_regex)
  execute_process(COMMAND "${RUNNER}" ${ARGN}
    INPUT_FILE /dev/null OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc STREQUAL "${expected_exit}")
    message(SEND_ERROR "corvale-run ${ARGN}: exit status ${rc}, expected ${expected_exit}; stderr: ${err}")
  elseif(NOT err MATCHES "${stderr_regex}")
    message(SEND_ERROR "corvale-run ${ARGN}: stderr '${err}' does not match '${stderr_regex}'")
  endif()
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines n)
  if(n GREATER 1)
    message(SEND_ERROR "corvale-run ${ARGN}: more than one line on stderr: ${err}")
  endif()
endfunction()

expect_run(2 "no program given")
expect_run(2 "unknown option --fast" prog.bin --fast)
expect_run(2 "'12x' is not a step count" prog.bin --max-steps 12x)
expect_run(2 "--max-steps needs a number" prog.bin --max-steps)
expect_run(2 "one program only" a.bin b.bin)
expect_run(2 "--state-json takes no program" --state-json x.json prog.bin)
expect_run(2 "cannot open .*missing.bin" "${WORK_DIR}/missing.bin")
expect_run(2 "cannot come from standard input" -)
expect_run(2 "--dos takes a DOS executable" prog.bin --dos)
expect_run(2 "build takes a source" build prog.bin)
expect_run(2 "--masm takes an assembly source" prog.c --masm)
expect_run(2 "--max-steps does not apply" build prog.asm --max-steps 5)
expect_run(2 "cannot read" "${WORK_DIR}")
expect_run(2 "--board does not apply" build prog.asm --board x.ini)
expect_run(2 "--board-log and --board-input need --board" prog.bin --board-log)
expect_run(2 "--state-json takes --board alone" --state-json x.json --board x.ini --board-input y)

file(WRITE "${WORK_DIR}/not-mz.EXE" "this is not an executable, only text")
expect_run(2 "not-mz.EXE is not a DOS executable" "${WORK_DIR}/not-mz.EXE")

file(WRITE "${WORK_DIR}/empty.bin" "")
expect_run(2 "empty" "${WORK_DIR}/empty.bin")

# 4Bh is DEC BX: a segment full of it runs until the step limit.
string(REPEAT "K" 65536 segment)
file(WRITE "${WORK_DIR}/64k.bin" "${segment}")
expect_run(3 "stopped after 10 steps at 1000:000A" "${WORK_DIR}/64k.bin" --max-steps 10)
file(WRITE "${WORK_DIR}/64k-plus-1.bin" "${segment}K")
expect_run(2 "larger than 64 KB" "${WORK_DIR}/64k-plus-1.bin")

execute_process(COMMAND "${RUNNER}" --help OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "usage: corvale-run")
  message(SEND_ERROR "--help: exit status ${rc}, output ${out}")
endif()
