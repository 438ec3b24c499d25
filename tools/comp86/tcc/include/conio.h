/* conio.h - the console through DOS (INT 21h): putch, getch, getche, cputs, kbhit.
   These write and read bytes exactly as they are: putch('\n') moves down a line without
   returning to its start (write "\r\n" for a new line); getch returns 13 for Enter. A key
   with no character (F1, the arrows) gives 0 first, then its scan code on the next call. */
#ifndef __CONIO_H
#define __CONIO_H

/* One byte to the screen (INT 21h function 02h). */
static int putch(int c)
{
    _DL = c;
    _AH = 2;
    __int__(0x21);
    return c;
}

/* Waits for a key and returns its character without showing it (function 08h). */
static int getch(void)
{
    _AH = 8;
    __int__(0x21);
    return _AL;
}

/* Waits for a key, shows it and returns its character (function 01h). */
static int getche(void)
{
    _AH = 1;
    __int__(0x21);
    return _AL;
}

/* Writes a string as it is; returns its last character (0 for an empty one). */
static int cputs(const char *s)
{
    int c;

    c = 0;
    while (*s) {
        c = *s++;
        putch(c);
    }
    return c;
}

/* Nonzero when a key is waiting to be read (function 0Bh). */
static int kbhit(void)
{
    _AH = 0x0B;
    __int__(0x21);
    return _AL != 0;
}

#endif
