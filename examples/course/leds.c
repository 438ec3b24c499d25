/* leds.c - a light runs across the trainer's eight LEDs (the output latch at port 8010h),
   then all of them blink three times. Offline, the simulator's ports take the writes. */
#include <dos.h>
#include <stdio.h>

#define LEDS  0x8010
#define PAUSE 200 /* milliseconds between two patterns */

static void show(unsigned char pattern)
{
    outportb(LEDS, pattern);
    delay(PAUSE);
}

int main(void)
{
    unsigned char light = 0x01;
    int i;

    for (i = 0; i < 8; i++) {
        show(light);
        light <<= 1;
    }
    for (i = 0; i < 3; i++) {
        show(0xFF);
        show(0x00);
    }
    puts("LEDs done");
    return 0;
}
