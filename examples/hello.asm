; hello.asm - the first program of the course: greets the student, asks for a name
; and answers. make_hello.sh writes its image, hello.bin, byte for byte.
;
; Run it headless:   echo Ada | corvale-run examples/hello.bin
;
; A raw image is loaded at 1000:0000 with CS = DS = ES = SS = 1000h and SP = 0080h, so
; every label below is an offset into the file. The program never touches the stack:
; SP starts inside the code.

code    segment
        assume  cs:code, ds:code
        org     0

start:  mov     dx, offset greet        ; 0000  BA 43 00
        mov     ah, 09h                 ; 0003  B4 09     write the $-terminated string
        int     21h                     ; 0005  CD 21
        mov     dx, offset namebuf      ; 0007  BA D9 00
        mov     ah, 0Ah                 ; 000A  B4 0A     read a line into the buffer
        int     21h                     ; 000C  CD 21
        mov     dx, offset crlf         ; 000E  BA 7C 00  the typed name is echoed
        mov     ah, 09h                 ; 0011  B4 09     without a line break
        int     21h                     ; 0013  CD 21
        mov     bl, [namebuf+1]         ; 0015  8A 1E DA 00  characters typed
        xor     bh, bh                  ; 0019  32 FF
        or      bl, bl                  ; 001B  0A DB
        jz      anonymous               ; 001D  74 18
        mov     byte ptr [namebuf+2+bx], '$'   ; 001F  C6 87 DB 00 24
        mov     dx, offset hello        ; 0024  BA 7F 00
        mov     ah, 09h                 ; 0027  B4 09
        int     21h                     ; 0029  CD 21
        mov     dx, offset namebuf+2    ; 002B  BA DB 00  the name, now $-terminated
        mov     ah, 09h                 ; 002E  B4 09
        int     21h                     ; 0030  CD 21
        mov     dx, offset welcome      ; 0032  BA 87 00
        jmp     short finish            ; 0035  EB 03
anonymous:
        mov     dx, offset shy          ; 0037  BA A5 00
finish: mov     ah, 09h                 ; 003A  B4 09
        int     21h                     ; 003C  CD 21
        mov     ax, 4C00h               ; 003E  B8 00 4C
        int     21h                     ; 0041  CD 21     back to the workbench

greet   db      'Hello from the Corvale x86 trainer!', 13, 10
        db      'What is your name? $'                          ; 0043
crlf    db      13, 10, '$'                                     ; 007C
hello   db      'Hello, $'                                      ; 007F
welcome db      '! Enjoy your first program.', 13, 10, '$'      ; 0087
shy     db      'Hello, whoever you are! Enjoy your first program.', 13, 10, '$'   ; 00A5
namebuf db      32, 0, 32 dup (0)       ; 00D9  capacity 32: 31 characters and Enter

code    ends
        end     start
