; hello.asm - the classic first program: a data segment, a code segment and INT 21h
; function 09h to print a $-terminated string.
SSTACK  SEGMENT STACK
        DB 64 DUP(?)
SSTACK  ENDS

DATA    SEGMENT
MSG     DB 'Hello, world!', 0DH, 0AH, '$'
DATA    ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, SS:SSTACK
START   PROC NEAR
        MOV AX, DATA
        MOV DS, AX
        LEA DX, MSG
        MOV AH, 09H
        INT 21H
        MOV AX, 4C00H
        INT 21H
START   ENDP
CODE    ENDS
        END START
