; Converts ADC channel 0 (at 210h) twice, a while apart, and shows each result on the
; LEDs on 8255 port A (at 200h).
CODE    SEGMENT
        ASSUME CS:CODE
START:  MOV DX, 203H
        MOV AL, 82H
        OUT DX, AL
        MOV BX, 2
AGAIN:  MOV DX, 210H
        OUT DX, AL
        MOV CX, 100
WAITC:  LOOP WAITC
        IN AL, DX
        MOV DX, 200H
        OUT DX, AL
        MOV CX, 2000
PAUSE:  LOOP PAUSE
        DEC BX
        JNZ AGAIN
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
