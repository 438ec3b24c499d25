; Scans "12" on digits 0 and 1 of the default board's display (8255 at 270h:
; segments on port A, digit select on port C) long enough to look steady, then goes dark
; and waits until the digits fade.
CODE    SEGMENT
        ASSUME CS:CODE
START:  MOV DX, 273H
        MOV AL, 80H
        OUT DX, AL
        MOV BX, 200
SCAN:   MOV DX, 272H
        MOV AL, 0
        OUT DX, AL
        MOV DX, 270H
        MOV AL, 06H
        OUT DX, AL
        MOV DX, 272H
        MOV AL, 01H
        OUT DX, AL
        MOV CX, 100
D1:     LOOP D1
        MOV AL, 0
        OUT DX, AL
        MOV DX, 270H
        MOV AL, 5BH
        OUT DX, AL
        MOV DX, 272H
        MOV AL, 02H
        OUT DX, AL
        MOV CX, 100
D2:     LOOP D2
        DEC BX
        JNZ SCAN
        MOV AL, 0
        OUT DX, AL
        MOV CX, 30000
D3:     LOOP D3
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
