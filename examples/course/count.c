/* count.c - reads a line from the keyboard and counts its letters, digits and blanks,
   then prints the line backwards. */
#include <stdio.h>
#include <ctype.h>
#include <string.h>

struct counts {
    int letters;
    int digits;
    int blanks;
};

static void count_line(const char *s, struct counts *c)
{
    c->letters = c->digits = c->blanks = 0;
    for (; *s; s++) {
        if (isalpha(*s))
            c->letters++;
        else if (isdigit(*s))
            c->digits++;
        else if (*s == ' ')
            c->blanks++;
    }
}

int main(void)
{
    char line[80];
    struct counts c;
    int i;

    printf("Type a line: ");
    gets(line);
    count_line(line, &c);
    printf("\nletters %d, digits %d, blanks %d\n", c.letters, c.digits, c.blanks);
    for (i = strlen(line) - 1; i >= 0; i--)
        putchar(line[i]);
    putchar('\n');
    return 0;
}
