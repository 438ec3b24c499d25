/* process.h - exit: ends the program with a return code. */
#ifndef __PROCESS_H
#define __PROCESS_H

#ifndef __EXIT_DEFINED
#define __EXIT_DEFINED
/* Ends the program with `status` as its return code (INT 21h function 4Ch); it does not
   return. */
static void exit(int status)
{
    _AL = status;
    _AH = 0x4C;
    __int__(0x21);
}
#endif

#endif
