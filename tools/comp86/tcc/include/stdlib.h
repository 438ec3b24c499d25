/* stdlib.h - exit, abs, atoi and itoa. */
#ifndef __STDLIB_H
#define __STDLIB_H

#include "_defs.h"

#include "_exit.h"

static int abs(int x)
{
    return x < 0 ? -x : x;
}

/* The decimal number at the start of s, after blanks and an optional sign; 0 when there
   is none. The value wraps around past 32767, as int arithmetic does. */
static int atoi(const char *s)
{
    int value, negative;

    while (*s == ' ' || (*s >= 9 && *s <= 13))
        s++;
    negative = 0;
    if (*s == '-' || *s == '+') {
        negative = *s == '-';
        s++;
    }
    value = 0;
    while (*s >= '0' && *s <= '9')
        value = value * 10 + (*s++ - '0');
    return negative ? -value : value;
}

/* value in base radix (2 to 36, lower-case letters for digits above 9) into s, which needs
   up to 18 bytes; returns s. Only base 10 shows a negative value with a '-': the other
   bases show the 16 bits as they are. */
static char *itoa(int value, char *s, int radix)
{
    char digits[16];
    unsigned u;
    int n, i, d;

    i = 0;
    if (radix < 2 || radix > 36) {
        s[0] = 0;
        return s;
    }
    u = (unsigned)value;
    if (radix == 10 && value < 0) {
        s[i++] = '-';
        u = 0 - u;
    }
    n = 0;
    do {
        d = (int)(u % radix);
        digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
        u = u / radix;
    } while (u != 0);
    while (n > 0)
        s[i++] = digits[--n];
    s[i] = 0;
    return s;
}

#endif
