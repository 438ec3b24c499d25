; clock7seg.asm —— 8253 定时、8259 中断的电子钟（实验板 boards/default.ini）
; 8253 计数器 0 接 1 MHz 时钟，方式 3，计数初值 10000，每 10 ms 输出一个脉冲，
; 经 8259 的 IR0 申请中断（中断类型号 08H）。中断服务程序数满 100 次为 1 秒，
; 修改分、秒并发 EOI。主程序不停地扫描 4 位数码管，显示“分分.秒秒”。
; 8255 A 口输出段码（共阴极），C 口输出位选（PC0 选最左一位）。
; 走到第 4 秒时关闭中断，返回 DOS。
PPI_A   EQU 270H            ; 8255 A 口：段码
PPI_C   EQU 272H            ; 8255 C 口：位选
PPI_CTL EQU 273H            ; 8255 控制口
PIT_0   EQU 280H            ; 8253 计数器 0
PIT_CTL EQU 283H            ; 8253 控制口
PIC_0   EQU 20H             ; 8259 偶地址
PIC_1   EQU 21H             ; 8259 奇地址
IRQ_VEC EQU 08H             ; IR0 的中断类型号
RUN_SEC EQU 4               ; 运行几秒后结束

SSTACK  SEGMENT STACK
        DW 128 DUP(?)
SSTACK  ENDS

DATA    SEGMENT
TICKS   DB 0                ; 10 ms 计数
SEC     DB 0
MIN     DB 0
DISBUF  DB 4 DUP(0)         ; 要显示的 4 位数字
LEDTAB  DB 3FH, 06H, 5BH, 4FH, 66H, 6DH, 7DH, 07H, 7FH, 6FH   ; 0～9 的段码
DATA    ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, SS:SSTACK
START:  MOV AX, DATA
        MOV DS, AX
        CLI
; 设置中断向量
        XOR AX, AX
        MOV ES, AX
        MOV WORD PTR ES:[IRQ_VEC*4], OFFSET TIMER
        MOV AX, CS
        MOV WORD PTR ES:[IRQ_VEC*4+2], AX
; 初始化 8255：方式 0，A 口、C 口输出，B 口输入
        MOV DX, PPI_CTL
        MOV AL, 10000010B
        OUT DX, AL
; 初始化 8259：边沿触发、单片、要 ICW4；类型号从 08H 起；8086 方式；只开放 IR0
        MOV AL, 13H
        OUT PIC_0, AL
        MOV AL, IRQ_VEC
        OUT PIC_1, AL
        MOV AL, 01H
        OUT PIC_1, AL
        MOV AL, 0FEH
        OUT PIC_1, AL
; 初始化 8253 计数器 0：先低后高字节，方式 3，二进制，初值 10000
        MOV DX, PIT_CTL
        MOV AL, 00110110B
        OUT DX, AL
        MOV DX, PIT_0
        MOV AX, 10000
        OUT DX, AL
        MOV AL, AH
        OUT DX, AL
        STI
; 主循环：把分、秒拆成 4 位数字，扫描显示一遍
MAIN:   MOV AL, MIN
        MOV SI, OFFSET DISBUF
        CALL SPLIT
        MOV AL, SEC
        CALL SPLIT
        CALL DISP
        CMP SEC, RUN_SEC
        JB MAIN
        CLI
        MOV AL, 0FFH        ; 屏蔽全部中断
        OUT PIC_1, AL
        STI
        MOV AX, 4C00H
        INT 21H

; AL 中的两位数拆成十位、个位，存入 [SI]、[SI+1]，SI 加 2
SPLIT   PROC NEAR
        MOV AH, 0
        MOV BL, 10
        DIV BL
        MOV [SI], AL
        MOV [SI+1], AH
        ADD SI, 2
        RET
SPLIT   ENDP

; 扫描 4 位数码管，每位点亮约 1 ms；第 2 位加小数点，把分和秒隔开
DISP    PROC NEAR
        MOV SI, 0
        MOV AH, 01H         ; 位选码，从最左一位开始
        MOV BX, OFFSET LEDTAB
DNEXT:  MOV DX, PPI_C       ; 先关位选，消除残影
        MOV AL, 0
        OUT DX, AL
        MOV AL, DISBUF[SI]
        XLAT                ; 查段码
        CMP SI, 1
        JNE NODOT
        OR AL, 80H          ; 小数点
NODOT:  MOV DX, PPI_A
        OUT DX, AL
        MOV DX, PPI_C
        MOV AL, AH
        OUT DX, AL
        MOV CX, 300         ; 约 1 ms
DLY:    LOOP DLY
        SHL AH, 1
        INC SI
        CMP SI, 4
        JB DNEXT
        MOV AL, 0
        OUT DX, AL
        RET
DISP    ENDP

; 8253 每 10 ms 一次的中断：满 100 次秒加 1，满 60 秒分加 1
TIMER:  PUSH AX
        PUSH DS
        MOV AX, DATA
        MOV DS, AX
        INC TICKS
        CMP TICKS, 100
        JB TDONE
        MOV TICKS, 0
        INC SEC
        CMP SEC, 60
        JB TDONE
        MOV SEC, 0
        INC MIN
        CMP MIN, 60
        JB TDONE
        MOV MIN, 0
TDONE:  MOV AL, 20H         ; 普通 EOI
        OUT PIC_0, AL
        POP DS
        POP AX
        IRET
CODE    ENDS
        END START
