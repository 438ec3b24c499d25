; strings.asm - loops, procedures and string instructions: copy a string, turn it to upper
; case in a procedure, count its vowels and print the count as a decimal number.
SSTACK  SEGMENT STACK
        DW 64 DUP(?)
SSTACK  ENDS

DATA    SEGMENT
SRC     DB 'assembly is fun', '$'
SRCLEN  EQU $ - SRC
DST     DB SRCLEN DUP(?)
VOWELS  DB 'AEIOU'
COUNT   DW 0
NL      DB 0DH, 0AH, '$'
DATA    ENDS

CODE    SEGMENT
        ASSUME CS:CODE, DS:DATA, ES:DATA, SS:SSTACK
START:  MOV AX, DATA
        MOV DS, AX
        MOV ES, AX
        CLD
        LEA SI, SRC                 ; copy the string, terminator included
        LEA DI, DST
        MOV CX, SRCLEN
        REP MOVSB
        LEA SI, DST
        CALL UPCASE
        LEA DX, DST
        MOV AH, 09H
        INT 21H
        LEA DX, NL
        INT 21H
        CALL COUNTV
        MOV AX, COUNT
        CALL PRINTDEC
        MOV AX, 4C00H
        INT 21H

; Upper-cases the $-terminated string at DS:SI in place.
UPCASE  PROC NEAR
        PUSH SI
UP1:    MOV AL, [SI]
        CMP AL, '$'
        JE UP3
        CMP AL, 'a'
        JB UP2
        CMP AL, 'z'
        JA UP2
        SUB AL, 20H
        MOV [SI], AL
UP2:    INC SI
        JMP UP1
UP3:    POP SI
        RET
UPCASE  ENDP

; Counts the vowels of DST into COUNT, scanning VOWELS with REPNE SCASB for each letter.
COUNTV  PROC NEAR
        LEA SI, DST
CV1:    LODSB
        CMP AL, '$'
        JE CV3
        LEA DI, VOWELS
        MOV CX, 5
        REPNE SCASB
        JNE CV1
        INC WORD PTR COUNT
        JMP CV1
CV3:    RET
COUNTV  ENDP

; Prints AX as an unsigned decimal number.
PRINTDEC PROC NEAR
        MOV BX, 10
        XOR CX, CX
PD1:    XOR DX, DX
        DIV BX
        PUSH DX
        INC CX
        OR AX, AX
        JNZ PD1
PD2:    POP DX
        ADD DL, '0'
        MOV AH, 02H
        INT 21H
        LOOP PD2
        RET
PRINTDEC ENDP
CODE    ENDS
        END START
