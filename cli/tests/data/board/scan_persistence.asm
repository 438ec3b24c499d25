; Scans "12" on the default board's display slowly: digit 0 lit for 5 ms, digit 1 for
; 45 ms, so digit 0 stays dark for 45 ms each round, within the 50 ms the eye keeps it.
; Then both go dark and the program waits 60 ms, long enough for both to fade.
CODE    SEGMENT
        ASSUME CS:CODE
START:  MOV DX, 273H
        MOV AL, 80H
        OUT DX, AL
        MOV BX, 5
SCAN:   MOV DX, 272H
        MOV AL, 0
        OUT DX, AL
        MOV DX, 270H
        MOV AL, 06H
        OUT DX, AL
        MOV DX, 272H
        MOV AL, 01H
        OUT DX, AL
        MOV CX, 1590
D1:     LOOP D1
        MOV AL, 0
        OUT DX, AL
        MOV DX, 270H
        MOV AL, 5BH
        OUT DX, AL
        MOV DX, 272H
        MOV AL, 02H
        OUT DX, AL
        MOV CX, 14300
D2:     LOOP D2
        DEC BX
        JNZ SCAN
        MOV AL, 0
        OUT DX, AL
        MOV CX, 19080
D3:     LOOP D3
        MOV AX, 4C00H
        INT 21H
CODE    ENDS
        END START
