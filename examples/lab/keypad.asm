; keypad.asm —— 4×4 矩阵键盘实验（实验板 boards/isa200.ini）
; 8255 的 C 口接键盘：PC4～PC7 输出列扫描信号，PC0～PC3 读入行信号；A 口接发光二极管。
; 逐列送低电平，读行线，某行为 0 说明该行、该列交叉处的键被按下，键号 = 行号×4 + 列号。
; 键号以二进制显示在 LED 上；等键松开后再读下一个键，读满 4 个键后返回 DOS。
PPI_A   EQU 200H            ; 8255 A 口：LED
PPI_C   EQU 202H            ; 8255 C 口：键盘
PPI_CTL EQU 203H            ; 8255 控制口
KEYS    EQU 4               ; 读几个键

SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

CODE    SEGMENT
        ASSUME CS:CODE, SS:SSTACK
START:  MOV DX, PPI_CTL
        MOV AL, 10000011B   ; 方式 0：A 口输出，B 口输入，C 口高 4 位输出、低 4 位输入
        OUT DX, AL
        MOV DI, KEYS
NEXTKEY:CALL GETKEY         ; AL = 键号
        MOV DX, PPI_A
        OUT DX, AL
        CALL RELEASE
        DEC DI
        JNZ NEXTKEY
        MOV AX, 4C00H
        INT 21H

; 等待一个键按下，返回键号于 AL
GETKEY  PROC NEAR
SCAN:   MOV BL, 0           ; 列号
        MOV BH, 11101111B   ; 第 0 列（PC4）送低电平
COL:    MOV DX, PPI_C
        MOV AL, BH
        OUT DX, AL
        IN AL, DX
        AND AL, 0FH
        CMP AL, 0FH
        JNE FOUND           ; 这一列有键按下
        ROL BH, 1
        INC BL
        CMP BL, 4
        JB COL
        JMP SCAN
FOUND:  CALL DELAY          ; 去抖动
        MOV CL, 0           ; 找出是哪一行：第一个为 0 的位
ROW:    SHR AL, 1
        JNC GOT
        INC CL
        JMP ROW
GOT:    MOV AL, CL
        SHL AL, 1
        SHL AL, 1
        ADD AL, BL          ; 键号 = 行号×4 + 列号
        RET
GETKEY  ENDP

; 等待所有键松开
RELEASE PROC NEAR
        PUSH AX
        MOV DX, PPI_C
        MOV AL, 0           ; 各列都送低电平
        OUT DX, AL
WAITUP: IN AL, DX
        AND AL, 0FH
        CMP AL, 0FH
        JNE WAITUP
        CALL DELAY
        POP AX
        RET
RELEASE ENDP

; 约 5 ms 的延时
DELAY   PROC NEAR
        PUSH CX
        MOV CX, 1500
DLY:    LOOP DLY
        POP CX
        RET
DELAY   ENDP
CODE    ENDS
        END START
