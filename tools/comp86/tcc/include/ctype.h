/* ctype.h - character classes for ASCII: isdigit, isalpha, isalnum, isspace, isupper,
   islower, isxdigit, and the conversions toupper and tolower. Functions rather than macros,
   so that an argument such as getch() is evaluated once. Bytes above 127 (the halves of
   a Chinese character) belong to no class and are not converted. */
#ifndef __CTYPE_H
#define __CTYPE_H

static int isdigit(int c)
{
    return c >= '0' && c <= '9';
}

static int isupper(int c)
{
    return c >= 'A' && c <= 'Z';
}

static int islower(int c)
{
    return c >= 'a' && c <= 'z';
}

static int isalpha(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static int isalnum(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static int isxdigit(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

/* Blank, tab, newline, vertical tab, form feed and carriage return. */
static int isspace(int c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

static int toupper(int c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

static int tolower(int c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

#endif
