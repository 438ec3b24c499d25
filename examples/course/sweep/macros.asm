DISP MACRO STR
     LEA DX,STR
     MOV AH,09H
     INT 21H
     ENDM
PUTC MACRO C
     MOV DL,C
     MOV AH,2
     INT 21H
     ENDM
STARS MACRO N
     LOCAL AGAIN
     MOV CX,N
AGAIN: PUTC '*'
     LOOP AGAIN
     ENDM
DATA SEGMENT
S1   DB 'mac$'
DATA ENDS
CODE SEGMENT
     ASSUME CS:CODE,DS:DATA
START: MOV AX,DATA
     MOV DS,AX
     DISP S1
     STARS 3
     STARS 2
     IRP R,<'a','b','c'>
     PUTC R
     ENDM
     IRPC Q,xyz
     PUTC '&Q'
     ENDM
     REPT 2
     PUTC '-'
     ENDM
     MOV AH,4CH
     INT 21H
CODE ENDS
     END START
