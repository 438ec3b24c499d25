/* factor.c - recursion and 32-bit arithmetic: factorials up to 12! as long numbers and the
   first Fibonacci numbers, printed in decimal and hexadecimal. */
#include <stdio.h>

static long factorial(int n)
{
    return n <= 1 ? 1L : n * factorial(n - 1);
}

static unsigned fib(unsigned n)
{
    if (n < 2)
        return n;
    return fib(n - 1) + fib(n - 2);
}

int main(void)
{
    int n;

    for (n = 1; n <= 12; n++)
        printf("%2d! = %ld\n", n, factorial(n));
    for (n = 0; n < 10; n++)
        printf("%u ", fib(n));
    printf("\n%lX\n", 0x12345678L);
    return 0;
}
