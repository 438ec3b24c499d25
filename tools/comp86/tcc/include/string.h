/* string.h - strings and memory blocks: strlen, strcpy, strcmp, strcat, memset, memcpy.
   strcmp compares the bytes as unsigned char, so a Chinese character sorts after ASCII. */
#ifndef __STRING_H
#define __STRING_H

#include "_defs.h"

static size_t strlen(const char *s)
{
    const char *p;

    p = s;
    while (*p)
        p++;
    return p - s;
}

static char *strcpy(char *dest, const char *src)
{
    char *d;

    d = dest;
    while ((*d++ = *src++) != 0)
        ;
    return dest;
}

static char *strcat(char *dest, const char *src)
{
    char *d;

    d = dest;
    while (*d)
        d++;
    while ((*d++ = *src++) != 0)
        ;
    return dest;
}

/* Negative, zero or positive as a sorts before, with or after b. */
static int strcmp(const char *a, const char *b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return (unsigned char)*a - (unsigned char)*b;
}

static void *memset(void *dest, int c, size_t n)
{
    char *d;

    d = (char *)dest;
    while (n-- > 0)
        *d++ = (char)c;
    return dest;
}

/* The blocks must not overlap. */
static void *memcpy(void *dest, const void *src, size_t n)
{
    char *d;
    const char *s;

    d = (char *)dest;
    s = (const char *)src;
    while (n-- > 0)
        *d++ = *s++;
    return dest;
}

#endif
