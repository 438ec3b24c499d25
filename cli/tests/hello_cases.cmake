# Runs corvale-run on examples/hello.bin with one kind of input and checks what a student
# would see and the exit status. Arguments: RUNNER, PROGRAM, CASE, WORK_DIR.
set(greeting "Hello from the Corvale x86 trainer!\r\nWhat is your name? ")
set(enjoy "Enjoy your first program.\r\n")
set(args "${PROGRAM}")
set(stderr_regex "^$")

if(CASE STREQUAL "ada")
  # A pipe shows nothing of the typing, so the simulator's echo must.
  set(input "Ada\n")
  set(expected "${greeting}Ada\r\nHello, Ada! ${enjoy}")
  set(expected_exit 0)
elseif(CASE STREQUAL "crlf")
  # A line ending in CR LF: the CR is the Enter, and nothing after the line is read.
  set(input "Ada\r\nleft over\n")
  set(expected "${greeting}Ada\r\nHello, Ada! ${enjoy}")
  set(expected_exit 0)
elseif(CASE STREQUAL "empty-name")
  set(input "\n")
  set(expected "${greeting}\r\nHello, whoever you are! ${enjoy}")
  set(expected_exit 0)
elseif(CASE STREQUAL "long-name")
  # The buffer takes 31 characters; the rest of the line is dropped, not overrun.
  set(input "abcdefghijklmnopqrstuvwxyz0123456789\n")
  set(expected "${greeting}abcdefghijklmnopqrstuvwxyz01234\r\nHello, abcdefghijklmnopqrstuvwxyz01234! ${enjoy}")
  set(expected_exit 0)
elseif(CASE STREQUAL "input-ends")
  # Input ends in the middle of the line: the read is abandoned, nothing more is printed.
  set(input "Ad")
  set(expected "${greeting}Ad")
  set(expected_exit 4)
  set(stderr_regex "input ended while the program waited")
elseif(CASE STREQUAL "step-limit")
  # Three steps print the greeting; the fourth would start reading.
  set(input "Ada\n")
  list(APPEND args --max-steps 3)
  set(expected "${greeting}")
  set(expected_exit 3)
  set(stderr_regex "stopped after 3 steps at 1000:0007")
else()
  message(FATAL_ERROR "unknown case ${CASE}")
endif()

set(input_file "${WORK_DIR}/hello-${CASE}.in")
file(WRITE "${input_file}" "${input}")
# Compared in hex through a file: OUTPUT_VARIABLE and a plain file(READ) both turn the
# program's CR LF into LF.
set(output_file "${WORK_DIR}/hello-${CASE}.out")
execute_process(COMMAND "${RUNNER}" ${args}
  INPUT_FILE "${input_file}" OUTPUT_FILE "${output_file}"
  ERROR_VARIABLE err RESULT_VARIABLE rc)
file(READ "${output_file}" out_hex HEX)
string(HEX "${expected}" expected_hex)

if(NOT rc STREQUAL "${expected_exit}")
  message(FATAL_ERROR "exit status ${rc}, expected ${expected_exit}; stderr: ${err}")
endif()
if(NOT out_hex STREQUAL expected_hex)
  file(READ "${output_file}" out)
  message(FATAL_ERROR "standard output differs:\n--- got ---\n${out}\n--- expected ---\n${expected}"
                      "\n--- in hex ---\n${out_hex}\n${expected_hex}")
endif()
if(NOT err MATCHES "${stderr_regex}")
  message(FATAL_ERROR "standard error '${err}' does not match '${stderr_regex}'")
endif()
