; sawtooth.asm —— DAC0832 锯齿波、三角波实验（实验板 boards/default.ini）
; DAC0832 接成单缓冲方式，口地址 8000H。数字量从 00H 逐一加到 FFH 再回到 00H，
; 示波器上看到锯齿波；输出两个周期后，再输出一个三角波（先升后降），然后返回 DOS。
DAC     EQU 8000H           ; DAC0832 的口地址
PERIODS EQU 2               ; 锯齿波的周期数

SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

CODE    SEGMENT
        ASSUME CS:CODE, SS:SSTACK
START:  MOV DX, DAC
        MOV BX, PERIODS
SAW:    MOV AL, 0           ; 一个锯齿：00H→FFH
SAW1:   OUT DX, AL
        CALL DELAY
        INC AL
        JNZ SAW1            ; 加到 FFH 后再加 1 变成 00H，本周期结束
        DEC BX
        JNZ SAW
        MOV AL, 0           ; 三角波上升沿：00H→FFH
UP:     OUT DX, AL
        CALL DELAY
        INC AL
        CMP AL, 0FFH
        JNE UP
DOWN:   OUT DX, AL          ; 下降沿：FFH→00H
        CALL DELAY
        DEC AL
        JNZ DOWN
        OUT DX, AL
        MOV AX, 4C00H
        INT 21H

; 每个台阶停留的时间，决定波形的周期
DELAY   PROC NEAR
        PUSH CX
        MOV CX, 10
DLY:    LOOP DLY
        POP CX
        RET
DELAY   ENDP
CODE    ENDS
        END START
