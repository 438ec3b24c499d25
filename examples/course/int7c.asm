; 中断程序设计：安装 INT 7CH 中断处理程序，由它求一个字表的和，再用十进制显示。
; 主程序是 FAR 过程，以 RET 返回 DOS（程序段前缀中的 INT 20H）。
DATA    SEGMENT
TABLE   DW 1, 2, 3, 4, 5, 6, 7, 8, 9, 10
COUNT   EQU ($-TABLE)/2
MSG     DB 'SUM = $'
CRLF    DB 0DH, 0AH, '$'
OLDIP   DW ?
OLDCS   DW ?
DATA    ENDS

STACK   SEGMENT STACK
        DW 128 DUP(?)
STACK   ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, SS:STACK
NEWINT  EQU SUMINT              ; 中断处理程序的入口（后面才定义）

MAIN    PROC FAR
        PUSH DS                 ; 返回 DOS 用的地址：PSP:0000
        XOR AX, AX
        PUSH AX
        MOV AX, DATA
        MOV DS, AX
        XOR AX, AX
        MOV ES, AX
        PUSH ES:[7CH*4]         ; 保存原来的中断向量
        POP OLDIP
        PUSH ES:[7CH*4+2]
        POP OLDCS
        LEA AX, NEWINT          ; 设置新的中断向量
        MOV ES:[7CH*4], AX
        MOV ES:[7CH*4].02H, CS

        MOV SI, OFFSET TABLE
        MOV CX, COUNT
        INT 7CH                 ; AX = 表中各数之和
        MOV BX, AX
        MOV DX, OFFSET MSG
        MOV AH, 09H
        INT 21H
        MOV AX, BX
        CALL PRINTDEC
        MOV DX, OFFSET CRLF
        MOV AH, 09H
        INT 21H

        XOR AX, AX              ; 恢复原来的中断向量
        MOV ES, AX
        PUSH OLDIP
        POP ES:[7CH*4]
        PUSH OLDCS
        POP ES:[7CH*4+2]
        RET
MAIN    ENDP

; INT 7CH：DS:SI 指向字表，CX 为个数，返回 AX = 和
SUMINT  PROC FAR
        PUSH SI
        PUSH CX
        XOR AX, AX
NEXT:   ADD AX, [SI]
        ADD SI, 2
        LOOP NEXT
        POP CX
        POP SI
        IRET
SUMINT  ENDP

; 以十进制显示 AX
PRINTDEC PROC NEAR USES AX BX CX DX
        MOV BX, 10
        XOR CX, CX
DIVIDE: XOR DX, DX
        DIV BX
        PUSH DX
        INC CX
        OR AX, AX
        JNZ DIVIDE
SHOW:   POP DX
        ADD DL, '0'
        MOV AH, 02H
        INT 21H
        LOOP SHOW
        RET
PRINTDEC ENDP

CODE    ENDS
        END MAIN
