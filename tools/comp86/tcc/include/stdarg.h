/* stdarg.h - variable argument lists: va_list, va_start, va_arg, va_end.
   Arguments are pushed right to left, so they lie in ascending order on the stack above
   the last named parameter; char and short arguments arrive as int, so ask va_arg for
   int (or unsigned) to read them. */
#ifndef __STDARG_H
#define __STDARG_H

typedef char *va_list;

#define va_start(ap, last) ((ap) = (char *)&(last) + sizeof(last))
#define va_arg(ap, t) (*(t *)(((ap) += sizeof(t)) - sizeof(t)))
#define va_end(ap)

#endif
