; The 8253 at 280h interrupts 100 times a second through the 8259 at 20h; each tick
; shows its number on the LEDs at 8010h, and the fifth ends the program.
CODE    SEGMENT
        ASSUME CS:CODE, DS:CODE
START:  MOV AX, CS
        MOV DS, AX
        CLI
        MOV AX, 0
        MOV ES, AX
        MOV WORD PTR ES:[8*4], OFFSET TICK
        MOV ES:[8*4+2], CS
        MOV AL, 13H
        OUT 20H, AL
        MOV AL, 08H
        OUT 21H, AL
        MOV AL, 01H
        OUT 21H, AL
        MOV AL, 0FEH
        OUT 21H, AL
        MOV DX, 283H
        MOV AL, 36H
        OUT DX, AL
        MOV DX, 280H
        MOV AX, 10000
        OUT DX, AL
        MOV AL, AH
        OUT DX, AL
        STI
WAITT:  HLT
        CMP COUNT, 5
        JB WAITT
        MOV AX, 4C00H
        INT 21H
TICK:   PUSH AX
        PUSH DX
        INC COUNT
        MOV AL, COUNT
        MOV DX, 8010H
        OUT DX, AL
        MOV AL, 20H
        OUT 20H, AL
        POP DX
        POP AX
        IRET
COUNT   DB 0
CODE    ENDS
        END START
