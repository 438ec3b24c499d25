/* _exit.h - exit, shared by stdlib.h and process.h. Included by them, not by programs. */
#ifndef __EXIT_H
#define __EXIT_H

/* Ends the program with `status` as its return code (INT 21h function 4Ch); it does not
   return. */
static void exit(int status)
{
    _AL = status;
    _AH = 0x4C;
    __int__(0x21);
}

#endif
