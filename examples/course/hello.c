/* hello.c - the first C program on the trainer: a greeting on the user screen. */
#include <stdio.h>

int main(void)
{
    printf("Hello, world!\n");
    return 0;
}
