/* string.h - strings and memory blocks: strlen, strcpy, strncpy, strcat, strcmp, strchr,
   memset, memcpy, memcmp. strcmp and memcmp compare the bytes as unsigned char, so a Chinese
   character sorts after ASCII. */
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

/* At most n bytes of src into dest: when src is shorter the rest of the n bytes are zeros,
   when it is not dest gets no final '\0'. */
static char *strncpy(char *dest, const char *src, size_t n)
{
    char *d;

    d = dest;
    while (n > 0 && *src) {
        *d++ = *src++;
        n--;
    }
    while (n > 0) {
        *d++ = 0;
        n--;
    }
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

/* The first c in s (its final '\0' when c is 0), or NULL. */
static char *strchr(const char *s, int c)
{
    while (*s != (char)c) {
        if (*s == 0)
            return NULL;
        s++;
    }
    return (char *)s;
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

/* Negative, zero or positive as the n bytes at a sort before, with or after those at b. */
static int memcmp(const void *a, const void *b, size_t n)
{
    const unsigned char *p;
    const unsigned char *q;

    p = (const unsigned char *)a;
    q = (const unsigned char *)b;
    for (; n > 0; n--, p++, q++)
        if (*p != *q)
            return *p - *q;
    return 0;
}

#endif
