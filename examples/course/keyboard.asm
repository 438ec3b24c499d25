; keyboard.asm - reads one key with function 01h, then a line with function 0Ah, and
; prints the line back in reverse.
SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

DATA    SEGMENT
ASK1    DB 'Press a key: $'
ASK2    DB 0DH, 0AH, 'Type a line: $'
GOT     DB 0DH, 0AH, 'Reversed: $'
BUF     DB 40, ?, 40 DUP(?)
DATA    ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, SS:SSTACK
START:  MOV AX, DATA
        MOV DS, AX
        MOV DX, OFFSET ASK1
        MOV AH, 09H
        INT 21H
        MOV AH, 01H                 ; one key, echoed
        INT 21H
        MOV DX, OFFSET ASK2
        MOV AH, 09H
        INT 21H
        MOV DX, OFFSET BUF
        MOV AH, 0AH
        INT 21H
        MOV DX, OFFSET GOT
        MOV AH, 09H
        INT 21H
        MOV CL, BUF+1
        XOR CH, CH
        JCXZ DONE
        MOV BX, CX
BACK:   MOV DL, BUF[BX+1]
        MOV AH, 02H
        INT 21H
        DEC BX
        LOOP BACK
DONE:   MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
