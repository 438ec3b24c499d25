assume cs:codesg,ds:datasg,ss:stacksg
datasg segment
 db 'welcome to masm!'
 db 'BaSiC'
 db 'iNfOrMaTiOn'
datasg ends
stacksg segment
 dw 0,0,0,0,0,0,0,0
stacksg ends
codesg segment
start: mov ax,stacksg
 mov ss,ax
 mov sp,16
 mov ax,datasg
 mov ds,ax
 mov bx,16
 mov cx,5
s: mov al,[bx]
 and al,11011111b
 mov [bx],al
 inc bx
 loop s
 mov bx,16
 mov cx,5
s0: mov dl,0[bx]
 mov ah,2
 int 21h
 inc bx
 loop s0
 mov al,ds:[0]
 mov dl,al
 int 21h
 mov dl,[bx].1
 int 21h
 mov si,0
 mov dl,[bx+si+2]
 int 21h
 mov dl,[bx].3[si]
 int 21h
 mov dl,3[bx][si]
 int 21h
 mov ax,4c00h
 int 21h
codesg ends
end start
