#!/usr/bin/python3
"""Differential check of the simulator against the Unicorn CPU emulator.

Generates random real-mode instructions with random registers and memory, runs each one
step in Unicorn (16-bit mode) and, in one batch, in `corvale-run --state-json`, and prints
every case whose registers, defined flags or touched memory differ.

Not part of ctest: it needs Debian's python3-unicorn, and Unicorn itself is not the
reference for everything (undefined flags, the IF rule, faults our machine absorbs).
Cases Unicorn refuses (an exception, an interrupt, an unmapped access) are skipped, and so
are the instructions whose behaviour here is deliberately our own (INT, I/O, HLT, system
registers). What remains is ordinary defined behaviour, where both must agree.

    tests/crosscheck/unicorn_diff.py build/cli/corvale-run [--cases N] [--seed S]
"""
import argparse
import json
import random
import subprocess
import sys

from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_16, UC_HOOK_INTR, \
    UC_HOOK_MEM_READ, UC_HOOK_MEM_WRITE, UC_HOOK_MEM_UNMAPPED, \
    UC_HOOK_CODE
from unicorn import x86_const as X

DEBUG = False  # print each case before the engine runs it
IMAGE = 0x10FFF0
REGS32 = ["eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"]
SEGS = ["es", "cs", "ss", "ds", "fs", "gs"]
UC = {n: getattr(X, "UC_X86_REG_" + n.upper()) for n in REGS32 + SEGS + ["eip", "eflags"]}

CF, PF, AF, ZF, SF, TF, IF, DF, OF = 1, 4, 0x10, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800
STATUS = CF | PF | AF | ZF | SF | OF
STRINGS = {0xA4, 0xA5, 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF}
PREFIXES = [0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF2, 0xF3]

# Opcodes whose handling is ours by design, not the processor's.
SKIP_ONE = {0x0F, 0x6C, 0x6D, 0x6E, 0x6F, 0x9D, 0xCC, 0xCD, 0xCE, 0xCF, 0xD6, 0xF0, 0xF1,
            0xF4, 0xE4, 0xE5, 0xE6, 0xE7, 0xEC, 0xED, 0xEE, 0xEF, 0xFA, 0xFB, 0x9B}
SKIP_ONE |= set(range(0xD8, 0xE0))
# 0Fh second bytes worth comparing: Jcc, SETcc, push/pop FS/GS, bit tests, double shifts,
# IMUL, far-pointer loads, MOVZX/MOVSX, BSF/BSR.
TWO_OK = set(range(0x80, 0xA0)) | {0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9, 0xAB, 0xAC,
                                   0xAD, 0xAF, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xBA,
                                   0xBB, 0xBC, 0xBD, 0xBE, 0xBF}


def split(code):
    """(prefix bytes, opcode bytes, rest) of an encoding."""
    i = 0
    while i < len(code) and code[i] in PREFIXES:
        i += 1
    if code[i] == 0x0F:
        return code[:i], code[i:i + 2], code[i + 2:]
    return code[:i], code[i:i + 1], code[i + 1:]


def undefined_flags(code, regs):
    """Flags the processor leaves undefined after this instruction."""
    pre, op, rest = split(code)
    o = op[-1]
    reg = (rest[0] >> 3) & 7 if rest else 0
    word32 = 0x66 in pre
    if len(op) == 2:
        if o in (0xA3, 0xAB, 0xB3, 0xBB, 0xBA):
            return STATUS & ~CF
        if o in (0xBC, 0xBD):
            return STATUS & ~ZF
        if o == 0xAF:
            return SF | ZF | AF | PF
        if o in (0xA4, 0xA5, 0xAC, 0xAD):
            if not word32 and (o in (0xA4, 0xAC) or regs["ecx"] & 31 > 16):
                return -1  # a word shifted by more than 16 has no defined result
            if o in (0xA5, 0xAD) and rest[0] < 0xC0:
                return STATUS
            return AF | OF
        return 0
    logic = {0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x30,
             0x31, 0x32, 0x33, 0x34, 0x35, 0x84, 0x85, 0xA8, 0xA9}
    if o in logic or (o in (0x80, 0x81, 0x82, 0x83) and reg in (1, 4, 6)):
        return AF
    if o in (0xC0, 0xC1, 0xD0, 0xD1, 0xD2, 0xD3):
        count = 1 if o in (0xD0, 0xD1) else regs["ecx"] & 0xFF if o in (0xD2, 0xD3) else None
        width = 8 if o in (0xC0, 0xD0, 0xD2) else 32 if word32 else 16
        if o in (0xD2, 0xD3) and rest[0] < 0xC0:
            return STATUS  # the engine's flags after a memory shift by CL are unreliable
        if count is None or (count & 31) >= width:
            return AF | OF | CF  # the immediate count sits after a displacement we skip
        return AF | OF
    if o in (0xF6, 0xF7):
        if reg in (0, 1):
            return AF
        if reg in (4, 5):
            return SF | ZF | AF | PF
        if reg in (6, 7):
            return STATUS
    if o in (0x69, 0x6B):
        return SF | ZF | AF | PF
    if o in (0x37, 0x3F):
        return OF | SF | ZF | PF
    if o in (0x27, 0x2F):
        return OF
    if o in (0xD4, 0xD5):
        return OF | AF | CF
    return 0


def wanted(code):
    # The engine aborts on translating a far CALL or JMP with a register operand anywhere
    # in the bytes it reads ahead.
    for a, b in zip(code, code[1:]):
        if a == 0xFF and b >= 0xC0 and ((b >> 3) & 7) in (3, 5):
            return False
    pre, op, rest = split(code)
    if op[0] == 0x0F:
        if 0xF2 in pre or 0xF3 in pre or (op[1] in (0xA0, 0xA1, 0xA8, 0xA9) and 0x66 in pre):
            return False
        if op[1] in (0xA3, 0xAB, 0xB3, 0xBB) and rest and rest[0] < 0xC0:
            return False  # the bit offset stays within the addressed word here
        return len(op) == 2 and op[1] in TWO_OK
    if op[0] in SKIP_ONE:
        return False
    if (0xF2 in pre or 0xF3 in pre) and op[0] not in STRINGS:
        return False  # a repeat prefix is an instruction of its own here
    segpre = any(p in pre for p in (0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65))
    if op[0] in STRINGS and (segpre or 0x67 in pre):
        return False  # string instructions always use DS:SI and ES:DI
    if op[0] in (0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F) and 0x66 in pre:
        return False  # segment registers take two bytes on the stack
    if op[0] in (0xC0, 0xC1, 0xD0, 0xD1, 0xD2, 0xD3) and rest and ((rest[0] >> 3) & 7) == 6:
        return False  # group 2 /6 does nothing here
    if op[0] in (0xCA, 0xCB):
        return False  # the engine's state after a far return is not reliable
    if (op[0] == 0xC8 and 0x66 in pre) or (op[0] == 0xC9 and 0x67 in pre):
        return False  # ENTER and LEAVE follow the operand and address size here
    if any(p in (0xF2, 0xF3) for p in pre) and code[len(pre) - 1] not in (0xF2, 0xF3):
        return False  # a repeat prefix followed by another prefix is an instruction here
    if any(a in (0xF2, 0xF3) and b in PREFIXES for a, b in zip(pre, pre[1:])):
        return False
    if op[0] == 0xC8 and len(rest) > 2 and rest[2] & 31 > 1:
        return False  # the engine copies the wrong frame pointers for nested levels
    if op[0] in (0xD4, 0xD5):
        return False  # AAM and AAD always use base 10
    if op[0] == 0xD7 and segpre:
        return False  # XLAT always reads DS
    if op[0] == 0x8E and rest and ((rest[0] >> 3) & 7) == 1:
        return False  # MOV CS
    if op[0] in (0xFE, 0xFF) and rest and ((rest[0] >> 3) & 7) == 7:
        return False
    return True


def random_rep_case(rng):
    """A repeated string instruction with a small count, run to its end."""
    code = [0x66] if rng.random() < 0.3 else []
    code += [rng.choice([0xF2, 0xF3]), rng.choice(sorted(STRINGS))]
    code, regs = random_case(rng, code)
    regs["ecx"] = (regs["ecx"] & 0xFFFF0000) | rng.randrange(0, 7)
    return code, regs


def random_case(rng, fixed=None):
    if fixed:
        code = list(fixed) + [0x90] * 10
        op = fixed[-1]
    else:
        code = []
    while not fixed and rng.random() < 0.3 and len(code) < 3:
        code.append(rng.choice(PREFIXES))
    if not fixed:
        op = rng.randrange(256)
        code.append(op)
        if op == 0x0F:
            code.append(rng.choice(sorted(TWO_OK)))
        code += [rng.randrange(256) for _ in range(10)]
    regs = {}
    for r in REGS32:
        v = rng.getrandbits(32)
        if rng.random() < 0.6:
            v &= 0xFFFF
        if rng.random() < 0.2:
            v &= 0x1F
        regs[r] = v
    regs["esp"] = rng.randrange(0x100, 0xFF00) & ~1
    for s in SEGS:
        regs[s] = rng.randrange(0x0100, 0xF000)
    regs["eip"] = rng.randrange(0x0000, 0xFF00)
    if 0x67 in code[:code.index(op)]:
        # One segment for all, so that an offset past FFFFh, which addresses only its low
        # 16 bits here, shows up as an access outside that segment and the case is skipped.
        for s in SEGS:
            regs[s] = regs["cs"]
    regs["eflags"] = 2 | (rng.getrandbits(12) & (STATUS | DF)) | (rng.choice([0, IF]))
    return bytes(code), regs


class UnicornRun:
    # A fresh engine per run: a reused one keeps translated code across runs.
    def __init__(self, whole_rep):
        self.whole_rep = whole_rep

    def _engine(self):
        uc = Uc(UC_ARCH_X86, UC_MODE_16)
        uc.mem_map(0, 0x111000)
        uc.hook_add(UC_HOOK_INTR, self._intr)
        uc.hook_add(UC_HOOK_MEM_UNMAPPED, self._unmapped)
        uc.hook_add(UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, self._access)
        uc.hook_add(UC_HOOK_CODE, self._insn)
        return uc

    # The engine's own instruction count trips over short backward jumps; stopping at the
    # start of the second instruction does the same without it.
    # With whole_rep, the repeated instruction runs to its end: the engine meets its
    # address again for every element.
    def _insn(self, uc, addr, size, data):
        self.started += 1
        if self.started > 1 and not (self.whole_rep and addr == self.begin):
            self.next_linear = addr
            uc.emu_stop()

    def _intr(self, uc, n, data):
        self.fault = True
        uc.emu_stop()

    def _unmapped(self, uc, access, addr, size, value, data):
        self.fault = True
        return False

    def _access(self, uc, access, addr, size, value, data):
        for a in range(addr, addr + size):
            self.touched.setdefault(a, None)

    def run(self, code, regs, ram):
        if DEBUG: print(code.hex(), regs, file=sys.stderr, flush=True)
        uc = self._engine()
        # NOPs everywhere: the next instruction is only fetched, and the engine stumbles
        # over some encodings of FFh bytes there.
        uc.mem_write(0, b"\x90" * 0x111000)
        for a, b in ram.items():
            uc.mem_write(a, bytes([b]))
        for n, v in regs.items():
            uc.reg_write(UC[n], v)
        self.fault = False
        self.touched = {}
        self.started = 0
        begin = regs["cs"] * 16 + regs["eip"]  # it takes CS:IP as a linear address
        self.begin = begin
        try:
            uc.emu_start(begin, 0xFFFFFFFF)
        except UcError:
            self.fault = True
        out = {n: uc.reg_read(UC[n]) for n in UC}
        # The engine's own EIP is unreliable after far transfers; the address where the
        # next instruction started is not.
        if self.started < 2:
            self.fault = True
        else:
            out["eip"] = (self.next_linear - out["cs"] * 16) & 0xFFFFFFFF
        mem = {a: uc.mem_read(a, 1)[0] for a in self.touched if a < IMAGE}
        return out, mem


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("runner")
    ap.add_argument("--cases", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--show", type=int, default=40)
    ap.add_argument("--dump", help="write the differing cases, as state cases, to this file")
    ap.add_argument("--rep", action="store_true",
                    help="repeated string instructions, each run until it is done")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    u = UnicornRun(args.rep)
    cases = []
    while len(cases) < args.cases:
        code, regs = random_rep_case(rng) if args.rep else random_case(rng)
        if not wanted(code):
            continue
        ram = {}
        ip_lin = regs["cs"] * 16 + regs["eip"]
        # NOPs around the instruction: the engine aborts on some short jumps that land
        # on FFh FFh next to it.
        for i in range(-16, len(code) + 16):
            ram[ip_lin + i] = code[i] if 0 <= i < len(code) else 0x90
        # Each pass finds bytes the instruction reads and gives them random values, until
        # a pass reads nothing new (new values can make a repeated compare run further).
        for _ in range(8):
            out, mem = u.run(code, regs, ram)
            fresh = [a for a in u.touched if a not in ram and a < IMAGE]
            if u.fault or not fresh:
                break
            for a in fresh:
                ram[a] = rng.randrange(256)
        if fresh:
            continue
        if u.fault or any(a >= IMAGE for a in u.touched):
            continue
        if any(a >> 12 == ip_lin >> 12 for a in mem if mem[a] != ram.get(a, 0x90)):
            continue  # a write into the page being executed restarts the engine's step
        if 0x67 in split(code)[0] and not all(
                0 <= a - regs["cs"] * 16 <= 0x10003 for a in u.touched):
            continue  # a 32-bit offset past FFFFh, which only addresses its low 16 bits here
        _, op, rest = split(code)
        if op[0] == 0xC2 and (regs["esp"] & 0xFFFF) + 4 + rest[0] + (rest[1] << 8) > 0xFFFF:
            continue  # RET Iw adds to all of ESP here
        for a in u.touched:
            ram.setdefault(a, 0xFF)
        cases.append((code, regs, ram, out, mem))

    batch = [{"regs": r, "ram": [[a, b] for a, b in ram.items()]} for _, r, ram, _, _ in cases]
    if args.rep:
        for case, (code, regs, _, _, _) in zip(batch, cases):
            case["steps"] = 100
            case["until_eip"] = regs["eip"] + len(split(code)[0]) + 1
    res = subprocess.run([args.runner, "--state-json", "-"], input=json.dumps(batch),
                         capture_output=True, text=True)
    if res.returncode != 0:
        sys.exit("runner failed: " + res.stderr)
    ours = json.loads(res.stdout)

    bad = 0
    by_op = {}
    dumped = []
    for (code, regs, ram, out, mem), got in zip(cases, ours):
        undefined = undefined_flags(code, regs)
        if undefined == -1:
            continue
        mask = ~(undefined | IF | 0x10000 | 0x20000) & 0xFFFFFFFF
        diffs = []
        for n in REGS32 + SEGS + ["eip"]:
            if got["regs"][n] != out[n]:
                diffs.append(f"{n} {got['regs'][n]:#x} vs {out[n]:#x}")
        if (got["regs"]["eflags"] ^ out["eflags"]) & mask:
            diffs.append(f"flags {got['regs']['eflags']:#06x} vs {out['eflags']:#06x}")
        gotmem = {a: b for a, b in got["ram"]}
        for a, b in mem.items():
            if gotmem.get(a) != b:
                diffs.append(f"[{a:#x}] {gotmem.get(a)} vs {b}")
        if diffs:
            bad += 1
            pre, op, _ = split(code)
            key = op.hex()
            by_op.setdefault(key, []).append((code, regs, diffs))
            dumped.append({"code": code.hex(), "regs": regs, "ram": [[a, b] for a, b in ram.items()],
                           "unicorn": {"regs": out, "mem": sorted(mem.items())}, "diffs": diffs})
    if args.dump:
        with open(args.dump, "w") as f:
            json.dump(dumped, f, indent=1)
    print(f"{len(cases)} cases, {bad} differ, in {len(by_op)} opcodes")
    shown = 0
    for key in sorted(by_op):
        items = by_op[key]
        print(f"== {key}: {len(items)}")
        for code, regs, diffs in items[:2]:
            if shown >= args.show:
                break
            shown += 1
            r = " ".join(f"{n}={regs[n]:x}" for n in REGS32 + ["eflags"])
            print(f"   {code.hex(' ')}  {r}\n      " + "; ".join(diffs[:6]))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
