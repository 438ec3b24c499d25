; µÚÒ»¸ö³ÌÐò£ºÏÔÊ¾×Ö·û´®
data	segment
msg	db	'Hello, lab!',0dh,0ah,'$'
msg2	db	0	;¡°È«½Ç¡±±êµã£¬£»£º£¡¡¡¿Õ¸ñ
;UTF-8 æ³¨é‡Šï¼šæ˜¾ç¤ºå­—ç¬¦ä¸²ã€‚
data	ends
stack1	segment stack
	dw	100 dup(?)
stack1	ends
code	segment
	assume	cs:code,ds:data,ss:stack1
start:	mov	ax,data
	mov	ds,ax
	lea	dx,msg
	mov	ah,9
	int	21h
	mov	ah,4ch
	int	21h
code	ends
	end	start