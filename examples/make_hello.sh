#!/usr/bin/env bash
# Writes hello.bin, the raw image of hello.asm, byte for byte: the instructions are
# hand-assembled below, the data offsets are counted from the strings so they cannot
# drift from them. Usage: bash examples/make_hello.sh
set -euo pipefail
export LC_ALL=C

out="$(cd "$(dirname "$0")" && pwd)/hello.bin"
code_size=$((0x43))

# Data, in the order of hello.asm. The line buffer comes last.
greet=$'Hello from the Corvale x86 trainer!\r\nWhat is your name? $'
crlf=$'\r\n$'
hello='Hello, $'
welcome=$'! Enjoy your first program.\r\n$'
shy=$'Hello, whoever you are! Enjoy your first program.\r\n$'
namebuf_capacity=32

greet_at=$code_size
crlf_at=$((greet_at + ${#greet}))
hello_at=$((crlf_at + ${#crlf}))
welcome_at=$((hello_at + ${#hello}))
shy_at=$((welcome_at + ${#welcome}))
namebuf_at=$((shy_at + ${#shy}))

image=""   # hex bytes separated by blanks
emit() { image+=" $*"; }
word() { printf '%02X %02X' $(($1 & 0xFF)) $((($1 >> 8) & 0xFF)); }
size() { local a=($image); echo ${#a[@]}; }
at() {  # checks that the next instruction starts where hello.asm says
  if (($(size) != $1)); then
    echo "make_hello.sh: instruction at $(printf %04X "$(size)"), expected $(printf %04X "$1")" >&2
    exit 1
  fi
}

at 0x00; emit BA "$(word $greet_at)"          # mov dx, offset greet
at 0x03; emit B4 09                           # mov ah, 09h
at 0x05; emit CD 21                           # int 21h
at 0x07; emit BA "$(word $namebuf_at)"        # mov dx, offset namebuf
at 0x0A; emit B4 0A                           # mov ah, 0Ah
at 0x0C; emit CD 21                           # int 21h
at 0x0E; emit BA "$(word $crlf_at)"           # mov dx, offset crlf
at 0x11; emit B4 09                           # mov ah, 09h
at 0x13; emit CD 21                           # int 21h
at 0x15; emit 8A 1E "$(word $((namebuf_at + 1)))"  # mov bl, namebuf+1
at 0x19; emit 32 FF                           # xor bh, bh
at 0x1B; emit 0A DB                           # or bl, bl
at 0x1D; emit 74 18                           # jz anonymous (0037)
at 0x1F; emit C6 87 "$(word $((namebuf_at + 2)))" 24  # mov byte ptr namebuf+2[bx], '$'
at 0x24; emit BA "$(word $hello_at)"          # mov dx, offset hello
at 0x27; emit B4 09                           # mov ah, 09h
at 0x29; emit CD 21                           # int 21h
at 0x2B; emit BA "$(word $((namebuf_at + 2)))"  # mov dx, offset namebuf+2
at 0x2E; emit B4 09                           # mov ah, 09h
at 0x30; emit CD 21                           # int 21h
at 0x32; emit BA "$(word $welcome_at)"        # mov dx, offset welcome
at 0x35; emit EB 03                           # jmp short finish (003A)
at 0x37; emit BA "$(word $shy_at)"            # anonymous: mov dx, offset shy
at 0x3A; emit B4 09                           # finish: mov ah, 09h
at 0x3C; emit CD 21                           # int 21h
at 0x3E; emit B8 00 4C                        # mov ax, 4C00h
at 0x41; emit CD 21                           # int 21h
at $code_size

for s in "$greet" "$crlf" "$hello" "$welcome" "$shy"; do
  emit "$(printf '%s' "$s" | od -An -tx1 -v)"
done
emit "$(printf '%02X' $namebuf_capacity)" 00
for ((i = 0; i < namebuf_capacity; i++)); do emit 00; done

: >"$out"
for b in $image; do printf "\\x$b" >>"$out"; done
printf 'greet %04X  crlf %04X  hello %04X  welcome %04X  shy %04X  namebuf %04X  size %d\n' \
  "$greet_at" "$crlf_at" "$hello_at" "$welcome_at" "$shy_at" "$namebuf_at" "$(size)"
