; A stand-in partition boot sector for the MBR boot test: reports over the first serial
; port that it runs and which partition entry DS:SI points at ("BOOTED " and the entry's
; first sector in hex), then ends the virtual machine through its debug-exit port.
        bits    16
        org     0x7C00

COM1            equ 0x3F8
COM1_STATUS     equ COM1 + 5
TX_EMPTY        equ 0x20
DEBUG_EXIT      equ 0xF4

start:
        cld
        mov     bp, si
        mov     si, booted
        call    puts
        mov     eax, [bp + 8]
        mov     cx, 8
.hex:
        rol     eax, 4
        push    eax
        and     al, 0x0F
        add     al, '0'
        cmp     al, '9'
        jbe     .digit
        add     al, 'A' - '9' - 1
.digit:
        call    putc
        pop     eax
        loop    .hex
        mov     al, 10
        call    putc
        xor     al, al
        out     DEBUG_EXIT, al
.halt:
        hlt
        jmp     .halt

puts:
        lodsb
        test    al, al
        jz      .done
        call    putc
        jmp     puts
.done:
        ret

putc:
        push    ax
        mov     dx, COM1_STATUS
.wait:
        in      al, dx
        test    al, TX_EMPTY
        jz      .wait
        pop     ax
        mov     dx, COM1
        out     dx, al
        ret

booted: db "BOOTED ", 0

        times   510 - ($ - $$) db 0
        dw      0xAA55
