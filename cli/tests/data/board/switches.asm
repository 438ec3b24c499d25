; Copies the switches on 8255 port B to the LEDs on port A until switch 7 is on.
PPI_A   EQU 200H
PPI_B   EQU 201H
PPI_CTL EQU 203H
CODE    SEGMENT
        ASSUME CS:CODE
START:  MOV DX, PPI_CTL
        MOV AL, 82H
        OUT DX, AL
AGAIN:  MOV DX, PPI_B
        IN AL, DX
        MOV DX, PPI_A
        OUT DX, AL
        TEST AL, 80H
        JZ AGAIN
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
