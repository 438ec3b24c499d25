# corvale-run --state-json: the states after each case, and the refusal of bad cases.
# Arguments: RUNNER, CASES (data/states.json), BOARD (boards/default.ini), WORK_DIR.

execute_process(COMMAND "${RUNNER}" --state-json "${CASES}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "exit status ${rc}: ${err}")
endif()

string(JSON count LENGTH "${out}")
if(NOT count EQUAL 7)
  message(FATAL_ERROR "expected 7 results, got ${count}:\n${out}")
endif()

# expect(case, value, json path...)
function(expect index value)
  string(JSON got GET "${out}" ${index} ${ARGN})
  if(NOT got STREQUAL "${value}")
    message(SEND_ERROR "case ${index}, ${ARGN}: got ${got}, expected ${value}")
  endif()
endfunction()

# 0: B8 34 12, mov ax,1234h: one step by default.
expect(0 4660 regs eax)
expect(0 3 regs eip)
expect(0 0 regs ds)
# 1: dec cx / jnz back, CX = 3: stops at until_eip, not after 100 steps. DEC leaves CF
#    alone and reaching zero sets ZF and PF with bit 1.
expect(1 0 regs ecx)
expect(1 3 regs eip)
expect(1 71 regs eflags)
# 2: 88 07, mov [bx],al with DS = 2000h, BX = 10h: the byte lands at 20010h; its neighbour
#    keeps its listed value and the upper bits of EAX stay.
expect(2 90 ram 2 1)
expect(2 0 ram 3 1)
expect(2 131088 ram 2 0)
expect(2 4294967130 regs eax)
# 3: A0 00 00, mov al,[0] with DS = 1234h: memory nobody wrote reads FFh.
expect(3 255 regs eax)
# 4: INT 21h AH=01h has nobody to type: the wait ends as a pause would, AL = FFh and the
#    INT is not completed, however often it is stepped.
expect(4 511 regs eax)
expect(4 0 regs eip)
# 5: no steps; the last byte of the address space and every register width round-trip.
expect(5 144 ram 0 1)
expect(5 1114095 ram 0 0)
expect(5 4294967295 regs esi)
expect(5 65535 regs cs)
expect(5 65535 regs eip)
# 6: an empty case is a zeroed machine over FFh memory: one step of FF FF changes nothing
#    visible but stays within the image.
expect(6 0 regs esp)
string(JSON ram6 LENGTH "${out}" 6 ram)
if(NOT ram6 EQUAL 0)
  message(SEND_ERROR "case 6: ram should be empty")
endif()

# Without a board the result has no "board"; with one, each case runs on a fresh board:
# OUT reaches the LEDs at 8010h and the DAC at 8000h, and an IN nobody answers reads FFh.
string(JSON ignored ERROR_VARIABLE no_board GET "${out}" 0 board)
if(NOT no_board)
  message(SEND_ERROR "case 0 has a board without --board")
endif()
file(WRITE "${WORK_DIR}/board.json" "[
  {\"regs\": {\"cs\": 4096, \"edx\": 32768, \"eax\": 128}, \"steps\": 4,
   \"ram\": [[65536, 238], [65537, 186], [65538, 16], [65539, 128], [65540, 176], [65541, 90],
           [65542, 238]]},
  {\"regs\": {\"cs\": 4096, \"edx\": 4660}, \"ram\": [[65536, 236]]}
]")
execute_process(COMMAND "${RUNNER}" --state-json "${WORK_DIR}/board.json" --board "${BOARD}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "with --board: exit status ${rc}: ${err}")
endif()
expect(0 90 board leds)
expect(0 128 board dac)
expect(1 255 regs eax)
expect(1 "{}" board)
foreach(bad "--board;${WORK_DIR}/none.ini" "--board;${BOARD};--board-log")
  execute_process(COMMAND "${RUNNER}" --state-json "${WORK_DIR}/board.json" ${bad}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 2 OR NOT out STREQUAL "" OR err STREQUAL "")
    message(SEND_ERROR "${bad}: exit ${rc}, stdout '${out}', stderr '${err}'")
  endif()
endforeach()

# Each bad input: exit 2, nothing on standard output, and a message naming what is wrong.
function(expect_refused json message_regex)
  file(WRITE "${WORK_DIR}/bad.json" "${json}")
  execute_process(COMMAND "${RUNNER}" --state-json "${WORK_DIR}/bad.json"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "${message_regex}")
    message(SEND_ERROR "${json}: exit ${rc}, stdout '${out}', stderr '${err}', expected '${message_regex}'")
  endif()
endfunction()

expect_refused("[{\"regs\": {\"eax\": 1}}, {\"regs\"" "malformed JSON")
expect_refused("" "malformed JSON")
expect_refused("[{\"steps\": 1E999}]" "malformed JSON: number overflow")
expect_refused("{\"regs\": {}}" "expected a JSON array")
expect_refused("[{}, 7]" "case 1: expected an object")
expect_refused("[{\"regs\": {\"eax\": 4294967296}}]" "case 0, regs.eax: .*4294967296")
expect_refused("[{}, {\"regs\": {\"ss\": 65536}}]" "case 1, regs.ss: .*65536")
expect_refused("[{\"regs\": {\"ax\": 1}}]" "case 0, regs.ax: unknown register")
expect_refused("[{\"regs\": {\"edx\": -1}}]" "case 0, regs.edx: .*-1")
expect_refused("[{\"regs\": {\"edx\": 2.5}}]" "case 0, regs.edx: .*2.5")
expect_refused("[{\"regs\": {\"edx\": \"7\"}}]" "case 0, regs.edx: .*string")
expect_refused("[{\"ram\": [[1114096, 0]]}]" "case 0, ram\\[0\\] linear: .*1114096")
expect_refused("[{\"ram\": [[0, 1], [16, 256]]}]" "case 0, ram\\[1\\] byte: .*256")
expect_refused("[{\"ram\": [[16]]}]" "case 0, ram\\[0\\]: expected a \\[linear, byte\\] pair")
expect_refused("[{\"ram\": {\"16\": 1}}]" "case 0, ram: expected an array")
expect_refused("[{\"steps\": -1}]" "case 0, steps: .*-1")
expect_refused("[{\"steps\": 4294967297}]" "case 0, steps: .*4294967297")
expect_refused("[{\"until_eip\": 4294967296}]" "case 0, until_eip: .*4294967296")
expect_refused("[{\"regs\": {}, \"flags\": 0}]" "case 0, flags: unknown field")
