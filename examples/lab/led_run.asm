; led_run.asm —— 8255 流水灯实验（实验板 boards/isa200.ini）
; 8255 的 A 口接 8 个发光二极管，B 口接开关。A 口方式 0 输出，
; 一个亮点从 L0 依次移到 L7，每步之间用软件延时，共走 3 圈后返回 DOS。
PPI_A   EQU 200H            ; 8255 A 口
PPI_CTL EQU 203H            ; 8255 控制口
ROUNDS  EQU 3               ; 走几圈

SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

CODE    SEGMENT
        ASSUME CS:CODE, SS:SSTACK
START:  MOV DX, PPI_CTL
        MOV AL, 10000010B   ; 方式 0：A 口输出，B 口输入，C 口输出
        OUT DX, AL
        MOV CX, ROUNDS * 8  ; 总步数
        MOV AL, 01H         ; 先点亮 L0
NEXT:   MOV DX, PPI_A
        OUT DX, AL
        CALL DELAY
        ROL AL, 1           ; 亮点左移一位，L7 之后回到 L0
        LOOP NEXT
        MOV AX, 4C00H
        INT 21H

; 软件延时：约 10 ms（4.77 MHz 时钟下）
DELAY   PROC NEAR
        PUSH CX
        MOV CX, 3000
DLY:    LOOP DLY
        POP CX
        RET
DELAY   ENDP
CODE    ENDS
        END START
