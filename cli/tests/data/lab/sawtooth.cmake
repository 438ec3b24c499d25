# The DAC codes sawtooth.asm must output, each step one change: two ramps 00..FF (the
# first 00 is no change, the DAC starts at 00), then a triangle 00..FF..00.
function(codes from to step)
  set(lines "")
  foreach(code RANGE ${from} ${to} ${step})
    math(EXPR hex "${code} + 256" OUTPUT_FORMAT HEXADECIMAL)  # 0x1NN: always two digits
    string(SUBSTRING ${hex} 3 2 hex)
    string(TOUPPER ${hex} hex)
    string(APPEND lines "DAC ${hex}\n")
  endforeach()
  set(expected "${expected}${lines}" PARENT_SCOPE)
endfunction()
set(expected "")
codes(1 255 1)
codes(0 255 1)
codes(0 255 1)
codes(254 0 -1)
