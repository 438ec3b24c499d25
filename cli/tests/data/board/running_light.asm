; A light runs across the LEDs on 8255 port A, with a delay loop between steps.
PPI_A   EQU 200H
PPI_CTL EQU 203H
CODE    SEGMENT
        ASSUME CS:CODE
START:  MOV DX, PPI_CTL
        MOV AL, 82H
        OUT DX, AL
        MOV AL, 01H
        MOV BX, 8
NEXT:   MOV DX, PPI_A
        OUT DX, AL
        MOV CX, 1000
WAIT1:  LOOP WAIT1
        ROL AL, 1
        DEC BX
        JNZ NEXT
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
