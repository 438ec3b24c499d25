TITLE  LAB2 -- list control
NAME   LAB2
PAGE   60,132
SUBTTL part one
COMMENT *
  This block is ignored;
  MOV [BX],[SI] would be wrong but it is a comment.
*
.XLIST
.LIST
.LALL
.SALL
.XCREF
.CREF
INCLUDE MYMAC.INC
CODE SEGMENT
 ASSUME CS:CODE
START: PUTCH 'i'
 EXITP
CODE ENDS
 END START
