; voltmeter.asm —— ADC0809 数字电压表（实验板 boards/default.ini）
; ADC0809 的 IN0 接电位器，通道 0 的口地址 2B0H（写启动转换，读取结果），
; EOC 状态在 2B8H 的 D0 位（1 表示转换结束），参考电压 5 V。
; 每次启动转换、查询 EOC、读结果，换算成电压 X.XX（电压×100 = 结果×500÷255），
; 在 3 位数码管上扫描显示约 100 ms；共测量 8 次后返回 DOS。
; 数码管：8255（270H）A 口段码，C 口位选，PC0 选最左一位。
ADC_IN0 EQU 2B0H            ; ADC0809 通道 0
ADC_ST  EQU 2B8H            ; EOC 状态口
PPI_A   EQU 270H
PPI_C   EQU 272H
PPI_CTL EQU 273H
TIMES   EQU 8               ; 测量次数

SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

DATA    SEGMENT
DISBUF  DB 3 DUP(0)         ; 个位、十分位、百分位
LEDTAB  DB 3FH, 06H, 5BH, 4FH, 66H, 6DH, 7DH, 07H, 7FH, 6FH   ; 0～9 的段码
DATA    ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, SS:SSTACK
START:  MOV AX, DATA
        MOV DS, AX
        MOV DX, PPI_CTL
        MOV AL, 10000010B   ; 8255 方式 0：A 口、C 口输出
        OUT DX, AL
        MOV DI, TIMES
MEASURE:MOV DX, ADC_IN0     ; 启动通道 0 转换
        OUT DX, AL
        MOV DX, ADC_ST
WAITEOC:IN AL, DX           ; 查询 EOC
        TEST AL, 01H
        JZ WAITEOC
        MOV DX, ADC_IN0     ; 读转换结果
        IN AL, DX
; 换算：AX = 结果×500÷255，即电压的百分之一伏数
        MOV AH, 0
        MOV BX, 500
        MUL BX
        MOV BX, 255
        DIV BX
; 拆成 3 位十进制数
        MOV BL, 100
        DIV BL              ; AL = 个位，AH = 余数
        MOV DISBUF, AL
        MOV AL, AH
        MOV AH, 0
        MOV BL, 10
        DIV BL
        MOV DISBUF+1, AL
        MOV DISBUF+2, AH
; 扫描显示约 100 ms
        MOV BP, 100
SHOW:   CALL DISP
        DEC BP
        JNZ SHOW
        DEC DI
        JNZ MEASURE
        MOV AX, 4C00H
        INT 21H

; 扫描 3 位数码管一遍，每位约 0.3 ms；最左一位带小数点
DISP    PROC NEAR
        MOV SI, 0
        MOV AH, 01H
        MOV BX, OFFSET LEDTAB
DNEXT:  MOV DX, PPI_C
        MOV AL, 0
        OUT DX, AL
        MOV AL, DISBUF[SI]
        XLAT
        CMP SI, 0
        JNE NODOT
        OR AL, 80H
NODOT:  MOV DX, PPI_A
        OUT DX, AL
        MOV DX, PPI_C
        MOV AL, AH
        OUT DX, AL
        MOV CX, 100
DLY:    LOOP DLY
        SHL AH, 1
        INC SI
        CMP SI, 3
        JB DNEXT
        MOV AL, 0
        OUT DX, AL
        RET
DISP    ENDP
CODE    ENDS
        END START
