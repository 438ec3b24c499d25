/* dos.h - the machine itself: software interrupts (geninterrupt), I/O ports (inportb,
   inport, inp, outportb, outport, outp), the interrupt flag (enable, disable), far
   pointers (MK_FP, FP_SEG, FP_OFF), memory anywhere (peek, peekb, poke, pokeb), the
   interrupt vectors (setvect, getvect) and delay. The registers can be set and read directly as _AX, _AH, _DL, ... before and
   after geninterrupt. */
#ifndef __DOS_H
#define __DOS_H

/* INT n; n must be a constant. */
#define geninterrupt(n) __int__(n)

/* Byte (inportb, inp) or word (inport) from a port; byte or word to a port. */
#define inportb(port) __inportb__(port)
#define inport(port) __inportw__(port)
#define inp(port) ((int)__inportb__(port))
#define outportb(port, value) __outportb__((port), (value))
#define outport(port, value) __outportw__((port), (value))
#define outp(port, value) __outportb__((port), (value))

/* STI and CLI. */
#define enable() __emit__(0xFB)
#define disable() __emit__(0xFA)

/* A far pointer from a segment and an offset, and back. */
#define MK_FP(seg, ofs) ((void far *)(((unsigned long)(seg) << 16) | (unsigned)(ofs)))
#define FP_SEG(fp) ((unsigned)((unsigned long)(fp) >> 16))
#define FP_OFF(fp) ((unsigned)(fp))

/* The word (peek, poke) or byte (peekb, pokeb) at seg:ofs. */
#define peek(seg, ofs) (*(int far *)MK_FP((seg), (ofs)))
#define peekb(seg, ofs) (*(char far *)MK_FP((seg), (ofs)))
#define poke(seg, ofs, value) (*(int far *)MK_FP((seg), (ofs)) = (value))
#define pokeb(seg, ofs, value) (*(char far *)MK_FP((seg), (ofs)) = (value))

/* Points interrupt vector n at an interrupt function of this program (CS:isr). The table
   at 0000:0000 is written directly, with interrupts off, because the trainer's monitor
   has no DOS to ask. */
static void setvect(int n, void interrupt (*isr)())
{
    unsigned far *vector = (unsigned far *)MK_FP(0, n * 4);

    disable();
    vector[0] = (unsigned)isr;
    vector[1] = _CS;
    enable();
}

/* The handler vector n points at, as an offset in this program's code segment (a handler
   elsewhere has its segment in peek(0, n * 4 + 2)). */
static void interrupt (*getvect(int n))()
{
    return (void interrupt (*)())peek(0, n * 4);
}

/* Waits about `ms` milliseconds by counting: the inner loop is sized for an 8086 at 8 MHz
   (8000 clocks a millisecond; a turn of the compiled loop takes some 64 clocks), so it is
   only roughly right, and much too short on a faster processor. */
static void delay(unsigned ms)
{
    unsigned i;

    while (ms > 0) {
        for (i = 0; i < 125; i++)
            ;
        ms--;
    }
}

#endif
