assume cs:code
data segment
 dd 0
 dw 0,0
data ends
code segment
start: mov ax,data
 mov ds,ax
 jmp short s1
 db 127 dup (0)
s1: jmp near ptr s2
 nop
s2: mov ax,offset s3
 mov ds:[0],ax
 jmp word ptr ds:[0]
 mov dl,'x'
s3: mov word ptr ds:[4],offset s4
 mov ds:[6],cs
 jmp dword ptr ds:[4]
 mov dl,'y'
s4: mov cx,0
 jcxz ok
 mov dl,'z'
ok: mov bx,offset s5
 push cs
 push bx
 retf
s5: call far ptr s6
 mov dl,'k'
 mov ah,2
 int 21h
 mov ax,4c00h
 int 21h
s6: mov dl,'f'
 mov ah,2
 int 21h
 retf
code ends
end start
