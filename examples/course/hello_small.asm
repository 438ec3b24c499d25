; hello_small.asm - the same greeting in the simplified-segment style.
        .8086
        .MODEL SMALL
        .STACK 100H

        .DATA
MSG     DB 'Hello from .MODEL SMALL', 0DH, 0AH, '$'

        .CODE
START:  MOV AX, @DATA
        MOV DS, AX
        MOV DX, OFFSET MSG
        MOV AH, 09H
        INT 21H
        MOV AX, 4C00H
        INT 21H
        END START
