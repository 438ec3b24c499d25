; ports.asm - writes a running pattern to the output port at 8000H and reads the input
; port back, the way the trainer's I/O experiments do. Offline without a lab board IN gives 0;
; on the course board the DAC at 8000H is write-only and IN reads FFH (the bus floats).
PORTOUT EQU 8000H
PORTIN  EQU 8000H

SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

CODE    SEGMENT
        ASSUME CS:CODE, SS:SSTACK
START:  MOV AL, 01H
        MOV CX, 8
NEXT:   MOV DX, PORTOUT
        OUT DX, AL
        ROL AL, 1
        LOOP NEXT
        MOV DX, PORTIN
        IN AL, DX
        MOV DX, PORTOUT
        IN AX, DX
        OUT DX, AX
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
