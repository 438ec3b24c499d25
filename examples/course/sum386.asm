; sum386.asm - 32-bit registers in real mode: sums the dwords of a table into EAX and
; prints the sum in hexadecimal.
        .386
SSTACK  SEGMENT STACK USE16
        DW 64 DUP(?)
SSTACK  ENDS

DATA    SEGMENT USE16
TABLE   DD 12345678H, 11111111H, 0ABCDH, 1
COUNT   EQU ($ - TABLE) / 4
HEXDIG  DB '0123456789ABCDEF'
NL      DB 'H', 0DH, 0AH, '$'
DATA    ENDS

CODE    SEGMENT USE16
        ASSUME CS:CODE, DS:DATA, SS:SSTACK
START:  MOV AX, DATA
        MOV DS, AX
        XOR EAX, EAX
        XOR ESI, ESI
        MOV ECX, COUNT
SUM:    ADD EAX, TABLE[ESI*4]
        INC ESI
        LOOP SUM
        MOV EDX, EAX
        MOV CX, 8                   ; eight hex digits, most significant first
DIGIT:  ROL EDX, 4
        MOV BX, DX
        AND BX, 0FH
        PUSH DX
        MOV DL, HEXDIG[BX]
        MOV AH, 02H
        INT 21H
        POP DX
        LOOP DIGIT
        MOV DX, OFFSET NL
        MOV AH, 09H
        INT 21H
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
