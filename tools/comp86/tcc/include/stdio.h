/* stdio.h - console input and output through DOS (INT 21h): putchar, getchar, puts, gets
   and printf. A '\n' written by these reaches the screen as carriage return + line feed,
   and Enter comes back as '\n'. printf knows %d %i %u %x %X %c %s and %%, with the l
   modifier (long), a field width, and the flags '-' (left-justify) and '0' (pad with
   zeros). */
#ifndef __STDIO_H
#define __STDIO_H

#include <stdarg.h>

#include "_defs.h"

#define EOF (-1)

/* One byte to the screen as it is (function 02h). */
static void __dos_putc(int c)
{
    _DL = c;
    _AH = 2;
    __int__(0x21);
}

static int putchar(int c)
{
    if (c == '\n')
        __dos_putc(13);
    __dos_putc(c);
    return c;
}

/* Waits for a key and shows it (function 01h); Enter gives '\n', Ctrl-Z gives EOF. */
static int getchar(void)
{
    int c;

    _AH = 1;
    __int__(0x21);
    c = _AL;
    if (c == 13) {
        __dos_putc(10);
        c = '\n';
    } else if (c == 26) {
        c = EOF;
    }
    return c;
}

/* Writes s and a new line; returns 0. */
static int puts(const char *s)
{
    while (*s)
        putchar(*s++);
    putchar('\n');
    return 0;
}

/* Reads a line typed at the keyboard, with DOS's editing keys (function 0Ah), into s
   without its Enter; returns s. DOS takes at most 127 characters, so s needs room for 127
   characters and the final '\0' when the user may type that much. */
static char *gets(char *s)
{
    char buffer[130];
    unsigned dx;
    int n, i;

    buffer[0] = (char)128; /* 127 characters and the carriage return */
    buffer[1] = 0;
    dx = (unsigned)buffer;
    _DX = dx;
    _AH = 0x0A;
    __int__(0x21);
    n = (unsigned char)buffer[1];
    for (i = 0; i < n; i++)
        s[i] = buffer[i + 2];
    s[n] = 0;
    __dos_putc(10); /* DOS echoed only the carriage return */
    return s;
}

/* Writes c count times. */
static void __print_repeat(int c, int count)
{
    while (count > 0) {
        putchar(c);
        count--;
    }
}

/* Writes the n bytes at s in a field of width characters: blanks before them, or after
   them when left is set. Returns the number of characters written. */
static int __print_field(const char *s, int n, int width, int left)
{
    int i;

    if (!left)
        __print_repeat(' ', width - n);
    for (i = 0; i < n; i++)
        putchar(s[i]);
    if (left)
        __print_repeat(' ', width - n);
    return n > width ? n : width;
}

/* Writes format with each % conversion replaced by the next argument; returns the number
   of characters written (a '\n' counts as one). */
static int printf(const char *format, ...)
{
    va_list ap;
    char digits[12];
    const char *f;
    const char *s;
    unsigned long u;
    long v;
    int count, left, zero, islong, width, n, negative, base, upper, c, d;

    va_start(ap, format);
    count = 0;
    f = format;
    while (*f) {
        if (*f != '%') {
            putchar(*f++);
            count++;
            continue;
        }
        f++;
        left = 0;
        zero = 0;
        while (*f == '-' || *f == '0') {
            if (*f == '-')
                left = 1;
            else
                zero = 1;
            f++;
        }
        width = 0;
        while (*f >= '0' && *f <= '9')
            width = width * 10 + (*f++ - '0');
        islong = 0;
        if (*f == 'l') {
            islong = 1;
            f++;
        }
        c = *f;
        if (c != 0)
            f++;
        base = 0;
        negative = 0;
        upper = 0;
        u = 0;
        switch (c) {
        case 'd':
        case 'i':
            if (islong)
                v = va_arg(ap, long);
            else
                v = va_arg(ap, int);
            u = (unsigned long)v;
            if (v < 0) {
                negative = 1;
                u = 0 - u;
            }
            base = 10;
            break;
        case 'u':
        case 'x':
        case 'X':
            if (islong)
                u = va_arg(ap, unsigned long);
            else
                u = va_arg(ap, unsigned);
            base = c == 'u' ? 10 : 16;
            upper = c == 'X';
            break;
        case 'c':
            digits[0] = (char)va_arg(ap, int);
            count += __print_field(digits, 1, width, left);
            break;
        case 's':
            s = va_arg(ap, char *);
            if (s == NULL)
                s = "(null)";
            for (n = 0; s[n] != 0; n++)
                ;
            count += __print_field(s, n, width, left);
            break;
        case '%':
            putchar('%');
            count++;
            break;
        case 0:
            break;
        default: /* not a conversion: written as it is */
            putchar('%');
            putchar(c);
            count += 2;
            break;
        }
        if (base != 0) {
            n = 0;
            do {
                d = (int)(u % base);
                digits[n++] = (char)(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
                u = u / base;
            } while (u != 0);
            d = width - n - negative; /* the padding */
            if (!left && !zero)
                __print_repeat(' ', d);
            if (negative)
                putchar('-');
            if (!left && zero)
                __print_repeat('0', d);
            count += n + negative + (d > 0 ? d : 0);
            while (n > 0)
                putchar(digits[--n]);
            if (left)
                __print_repeat(' ', d);
        }
    }
    va_end(ap);
    return count;
}

#endif
