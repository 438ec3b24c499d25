#!/usr/bin/env bash
# The simulator against DOSBox's interpreting core (core=normal, cycles=max) on the same
# three .COM programs, run by corvale-run and by DOSBox on the same machine:
#
#   W1  an arithmetic/memory loop     mov ax,[si] / add ax,cx / mov [si+2],ax / xor bx,ax /
#                                     dec cx / jnz, 1000 times, inside two counted loops
#   W2  calls and returns             call proc / dec dx / jnz, 50000 times; proc is
#                                     push bx / add bx,ax / pop bx / ret
#   W3  REP MOVSB                     60000 bytes from DS:0 to ES:0, again and again
#
# Each program repeats its work R times (R in BP) and then ends with INT 21h AH=4Ch. Every
# figure comes from a pair of runs, R1 and R2 repetitions, so that start-up (DOSBox's is
# most of a second) cancels: rate = (R2 - R1) * work per repetition / (t(R2) - t(R1)),
# the median of the pairs. The two tools' pairs alternate. The programs use relative jumps and set up their own segments
# (DS = CS + 1000h, ES = CS + 2000h, SP = FFF0h), so the same bytes run as a raw program
# at 1000:0000 in corvale-run and as a .COM at PSP:0100 in DOSBox.
#
# Usage: bench/dos_compare.sh [BUILD_DIR] [PAIRS]   (default build, 5 pairs)
# Needs dosbox (apt-get install dosbox); nothing else is started.
set -euo pipefail

build=${1:-build}
pairs=${2:-5}
run="$build/cli/corvale-run"
[[ -x "$run" ]] || { echo "no $run: build first" >&2; exit 2; }
command -v dosbox >/dev/null || { echo "dosbox is not installed (apt-get install dosbox)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Little-endian word as \x escapes.
word() { printf '\\x%02x\\x%02x' $(($1 & 0xFF)) $((($1 >> 8) & 0xFF)); }

# mov ax,cs / add ax,1000h / mov ds,ax / add ax,1000h / mov es,ax / mov sp,0FFF0h / mov bp,R
prologue() { printf '\\x8c\\xc8\\x05\\x00\\x10\\x8e\\xd8\\x05\\x00\\x10\\x8e\\xc0\\xbc\\xf0\\xff\\xbd%s' "$(word "$1")"; }
# mov ax,4C00h / int 21h
epilogue='\xb8\x00\x4c\xcd\x21'

write_program() {  # KIND REPS FILE
  local body
  case $1 in
    # r: mov dx,10000 / o: mov cx,1000 / i: mov ax,[si] / add ax,cx / mov [si+2],ax /
    # xor bx,ax / dec cx / jnz i / dec dx / jnz o / dec bp / jnz r
    W1) body='\xba\x10\x27\xb9\xe8\x03\x8b\x04\x01\xc8\x89\x44\x02\x31\xc3\x49\x75\xf4\x4a\x75\xee\x4d\x75\xe8' ;;
    # r: mov dx,50000 / t: call p / dec dx / jnz t / dec bp / jnz r / (end) /
    # p: push bx / add bx,ax / pop bx / ret
    W2) body='\xba\x50\xc3\xe8\x0b\x00\x4a\x75\xfa\x4d\x75\xf4' ;;
    # r: xor si,si / xor di,di / mov cx,60000 / cld / rep movsb / dec bp / jnz r
    W3) body='\x31\xf6\x31\xff\xb9\x60\xea\xfc\xf3\xa4\x4d\x75\xf3' ;;
  esac
  local tail=''
  [[ $1 == W2 ]] && tail='\x53\x01\xc3\x5b\xc3'
  printf "$(prologue "$2")${body}${epilogue}${tail}" > "$3"
}

# Instructions (W1, W2) or bytes (W3) of one repetition.
declare -A per_rep=([W1]=60030003 [W2]=350003 [W3]=60000)
declare -A unit=([W1]="M instructions/s" [W2]="M instructions/s" [W3]="MB/s")
# Repetitions of the pair's two runs for each tool; DOSBox's runs last a few seconds, the
# simulator's W3 needs many more repetitions to last measurably long.
declare -A reps_sim=([W1]="4 12" [W2]="600 1800" [W3]="10000 60000")
declare -A reps_dos=([W1]="4 12" [W2]="600 1800" [W3]="4000 12000")

cat > "$work/dosbox.conf" <<'EOF'
[sdl]
output=surface
[cpu]
core=normal
cycles=max
cputype=auto
[mixer]
nosound=true
[speaker]
pcspeaker=false
[midi]
mpu401=none
[sblaster]
sbtype=none
[gus]
gus=false
EOF

seconds() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }

time_sim() {  # FILE
  local t0 t1
  t0=$(seconds)
  "$run" "$1" > /dev/null
  t1=$(seconds)
  calc "$t1 - $t0"
}

time_dos() {  # FILE (a name in $work)
  local t0 t1
  t0=$(seconds)
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy dosbox -conf "$work/dosbox.conf" \
    -c "mount c $work" -c "c:" -c "$(basename "$1")" -c "exit" > /dev/null 2>&1
  t1=$(seconds)
  calc "$t1 - $t0"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# One pair of runs of a tool: prints its rate in millions per second.
pair_rate() {  # TOOL KIND
  local tool=$1 kind=$2 reps r1 r2 ta tb
  if [[ $tool == sim ]]; then reps=${reps_sim[$kind]}; else reps=${reps_dos[$kind]}; fi
  read -r r1 r2 <<< "$reps"
  ta=$("time_$tool" "$work/${tool}${kind}A.COM")
  tb=$("time_$tool" "$work/${tool}${kind}B.COM")
  calc "($r2 - $r1) * ${per_rep[$kind]} / ($tb - $ta) / 1000000"
}

printf '%-4s %14s %14s %8s   %s\n' "" "corvale-run" "DOSBox normal" "ratio" "unit"
for kind in W1 W2 W3; do
  for tool in sim dos; do
    if [[ $tool == sim ]]; then reps=${reps_sim[$kind]}; else reps=${reps_dos[$kind]}; fi
    read -r r1 r2 <<< "$reps"
    write_program "$kind" "$r1" "$work/${tool}${kind}A.COM"
    write_program "$kind" "$r2" "$work/${tool}${kind}B.COM"
  done
  # The two tools' pairs alternate, so a busy moment of the machine falls on both.
  : > "$work/sim.rates"
  : > "$work/dos.rates"
  for ((i = 0; i < pairs; i++)); do
    pair_rate sim "$kind" >> "$work/sim.rates"
    pair_rate dos "$kind" >> "$work/dos.rates"
  done
  sim=$(median < "$work/sim.rates")
  dos=$(median < "$work/dos.rates")
  printf '%-4s %14.1f %14.1f %8.2f   %s\n' "$kind" "$sim" "$dos" "$(calc "$sim / $dos")" \
    "${unit[$kind]}"
done
