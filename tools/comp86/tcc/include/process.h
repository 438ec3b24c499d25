/* process.h - exit: ends the program with a return code. */
#ifndef __PROCESS_H
#define __PROCESS_H

#include "_exit.h"

#endif
