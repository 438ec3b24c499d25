/* _defs.h - what several headers define alike: size_t and NULL. Included by them, not by
   programs. */
#ifndef __DEFS_H
#define __DEFS_H

typedef unsigned size_t;

#define NULL 0

#endif
