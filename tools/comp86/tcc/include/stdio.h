/* stdio.h - console input and output through DOS (INT 21h): putchar, getchar, puts, gets,
   printf and scanf, and sprintf and sscanf on strings. A '\n' written by these reaches the
   screen as carriage return + line feed. Input comes a line at a time, as a C program's
   standard input does: the line is typed with DOS's line input, Enter comes back as '\n',
   and a line starting with Ctrl-Z is the end of input (EOF).
   printf and sprintf know %d %i %u %x %X %c %s and %%, with the l modifier (long), a field
   width, and the flags '-' (left-justify) and '0' (pad with zeros). scanf and sscanf know
   %d %u %x %c %s and %%, with '*' (read, do not assign), a field width and l (long). */
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

/* The line being read: its capacity, its length, its characters and the Enter, as DOS's
   line input (function 0Ah) fills it; 127 characters at most. __in_pos is the index of the
   next character, 0 when a new line must be read. */
static char __in_line[130];
static int __in_pos;

/* The next character of the input without taking it; waits for a line when none is left. */
static int __in_peek(void)
{
    unsigned dx;

    if (__in_pos == 0) {
        __in_line[0] = (char)128;
        __in_line[1] = 0; /* an abandoned wait reads as an empty line */
        dx = (unsigned)__in_line;
        _DX = dx;
        _AH = 0x0A;
        __int__(0x21);
        __dos_putc(10); /* DOS echoed only the carriage return */
        __in_pos = 2;
    }
    if (__in_pos - 2 >= (unsigned char)__in_line[1])
        return '\n';
    if (__in_pos == 2 && __in_line[2] == 26)
        return EOF;
    return (unsigned char)__in_line[__in_pos];
}

/* The next character of the input. */
static int getchar(void)
{
    int c;

    c = __in_peek();
    if (c == '\n' || c == EOF)
        __in_pos = 0;
    else
        __in_pos++;
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

/* Reads the rest of the input line into s without its '\n'; returns s, or NULL at the end of
   input. A line holds at most 127 characters, so s needs room for 128 bytes when the user
   may type that much. */
static char *gets(char *s)
{
    int c, n;

    n = 0;
    while ((c = getchar()) != '\n') {
        if (c == EOF)
            return NULL;
        s[n++] = (char)c;
    }
    s[n] = 0;
    return s;
}

/* Where formatted output goes: put writes one character to the screen or stores it at to;
   count is the number of characters written so far. */
struct __sink {
    void (*put)(struct __sink *k, int c);
    char *to;
    int count;
};

static void __put_screen(struct __sink *k, int c)
{
    putchar(c);
}

static void __put_string(struct __sink *k, int c)
{
    *k->to++ = (char)c;
}

static void __print(struct __sink *k, int c)
{
    k->put(k, c);
    k->count++;
}

/* Writes c count times. */
static void __print_repeat(struct __sink *k, int c, int count)
{
    while (count > 0) {
        __print(k, c);
        count--;
    }
}

/* Writes the n bytes at s in a field of width characters: blanks before them, or after
   them when left is set. */
static void __print_field(struct __sink *k, const char *s, int n, int width, int left)
{
    int i;

    if (!left)
        __print_repeat(k, ' ', width - n);
    for (i = 0; i < n; i++)
        __print(k, s[i]);
    if (left)
        __print_repeat(k, ' ', width - n);
}

/* The core of printf and sprintf: format with each % conversion replaced by the next
   argument, to k. Returns the number of characters written (a '\n' counts as one). */
static int __format(struct __sink *k, const char *format, va_list ap)
{
    char digits[12];
    const char *f;
    const char *s;
    unsigned long u;
    long v;
    int left, zero, islong, width, n, negative, base, upper, c, d;

    k->count = 0;
    f = format;
    while (*f) {
        if (*f != '%') {
            __print(k, *f++);
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
            __print_field(k, digits, 1, width, left);
            break;
        case 's':
            s = va_arg(ap, char *);
            if (s == NULL)
                s = "(null)";
            for (n = 0; s[n] != 0; n++)
                ;
            __print_field(k, s, n, width, left);
            break;
        case '%':
            __print(k, '%');
            break;
        case 0:
            break;
        default: /* not a conversion: written as it is */
            __print(k, '%');
            __print(k, c);
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
                __print_repeat(k, ' ', d);
            if (negative)
                __print(k, '-');
            if (!left && zero)
                __print_repeat(k, '0', d);
            while (n > 0)
                __print(k, digits[--n]);
            if (left)
                __print_repeat(k, ' ', d);
        }
    }
    return k->count;
}

/* Writes format with each % conversion replaced by the next argument; returns the number
   of characters written. */
static int printf(const char *format, ...)
{
    struct __sink k;
    va_list ap;
    int n;

    va_start(ap, format);
    k.put = __put_screen;
    n = __format(&k, format, ap);
    va_end(ap);
    return n;
}

/* The same into s, with a final '\0'; returns the number of characters before it. s needs
   room for all of them. */
static int sprintf(char *s, const char *format, ...)
{
    struct __sink k;
    va_list ap;
    int n;

    va_start(ap, format);
    k.put = __put_string;
    k.to = s;
    n = __format(&k, format, ap);
    va_end(ap);
    s[n] = 0;
    return n;
}

/* Where scanned input comes from: next gives the next character of the keyboard's input or
   of the string at *from (EOF at its end), and takes it when take is set. */
typedef int (*__source)(const char **from, int take);

static int __next_input(const char **from, int take)
{
    return take ? getchar() : __in_peek();
}

static int __next_string(const char **from, int take)
{
    int c;

    c = (unsigned char)**from;
    if (c == 0)
        return EOF;
    if (take)
        (*from)++;
    return c;
}

static int __is_blank(int c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

/* Takes the white space at the head of the input; returns the character after it. */
static int __skip_blanks(__source next, const char **from)
{
    int c;

    while (__is_blank(c = next(from, 0)))
        next(from, 1);
    return c;
}

/* The core of scanf and sscanf: reads what format describes, storing each conversion
   through the next argument. Returns the number of conversions stored, or EOF when the
   input ended before the first one. */
static int __scan(__source next, const char **from, const char *format, va_list ap)
{
    const char *f;
    char *s;
    unsigned long u;
    int count, c, conversion, skip, islong, width, negative, base, d, n;

    count = 0;
    f = format;
    while (*f) {
        if (__is_blank(*f)) {
            while (__is_blank(*f))
                f++;
            __skip_blanks(next, from);
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%') {
                f++;
                c = __skip_blanks(next, from);
            } else {
                c = next(from, 0);
            }
            if (c == EOF)
                return count == 0 ? EOF : count;
            if (c != *f)
                return count;
            next(from, 1);
            f++;
            continue;
        }
        f++;
        skip = *f == '*';
        if (skip)
            f++;
        width = 0;
        while (*f >= '0' && *f <= '9')
            width = width * 10 + (*f++ - '0');
        islong = *f == 'l';
        if (islong)
            f++;
        conversion = *f;
        if (conversion == 0)
            return count;
        f++;
        if (conversion == 'c') {
            if (width == 0)
                width = 1;
            c = next(from, 0);
        } else {
            c = __skip_blanks(next, from);
        }
        if (c == EOF)
            return count == 0 ? EOF : count;
        if (width == 0)
            width = 32767;
        if (conversion == 'c' || conversion == 's') {
            s = skip ? NULL : va_arg(ap, char *);
            for (n = 0; n < width && c != EOF && (conversion == 'c' || !__is_blank(c)); n++) {
                if (s != NULL)
                    *s++ = (char)c;
                next(from, 1);
                c = next(from, 0);
            }
            if (s != NULL && conversion == 's')
                *s = 0;
        } else if (conversion == 'd' || conversion == 'u' || conversion == 'x') {
            base = conversion == 'x' ? 16 : 10;
            negative = c == '-';
            n = 0;
            if (c == '-' || c == '+') {
                next(from, 1);
                c = next(from, 0);
                n++;
            }
            u = 0;
            d = 0; /* digits read */
            for (; n < width; n++) {
                if (c >= '0' && c <= '9')
                    c -= '0';
                else if (base == 16 && c >= 'a' && c <= 'f')
                    c -= 'a' - 10;
                else if (base == 16 && c >= 'A' && c <= 'F')
                    c -= 'A' - 10;
                else
                    break;
                u = u * base + c;
                d++;
                next(from, 1);
                c = next(from, 0);
            }
            if (d == 0)
                return count;
            if (negative)
                u = 0 - u;
            if (!skip && islong)
                *va_arg(ap, unsigned long *) = u;
            else if (!skip)
                *va_arg(ap, unsigned *) = (unsigned)u;
        } else {
            return count; /* not a conversion */
        }
        if (!skip)
            count++;
    }
    return count;
}

/* Reads from the keyboard's input what format describes (see above). */
static int scanf(const char *format, ...)
{
    va_list ap;
    int n;

    va_start(ap, format);
    n = __scan(__next_input, NULL, format, ap);
    va_end(ap);
    return n;
}

/* Reads from the string s what format describes (see above). */
static int sscanf(const char *s, const char *format, ...)
{
    va_list ap;
    int n;

    va_start(ap, format);
    n = __scan(__next_string, &s, format, ap);
    va_end(ap);
    return n;
}

#endif
