; Boot program of the master boot record written by the partition repair.
; The BIOS loads it at 0000:7C00 with the boot drive in DL. It moves itself out of the
; way to 0000:0600, picks the one active partition entry, loads that partition's first
; sector to 0000:7C00 (INT 13h extended read when the BIOS has it, CHS otherwise) and
; jumps there with DL = boot drive and DS:SI pointing at the entry, as boot sectors expect.
; Assemble with: nasm -f bin -o mbr_boot.bin mbr_boot.asm  (440 bytes, padded with zeros)

        bits    16
        org     0x0600

LOAD_ADDRESS    equ 0x7C00
RELOCATED       equ 0x0600
TABLE           equ RELOCATED + 446     ; the four 16-byte entries
ENTRY_COUNT     equ 4
ENTRY_BYTES     equ 16
ENTRY_HEAD      equ 1                   ; CHS of the first sector: head
ENTRY_SECTOR    equ 2                   ;   sector | cylinder bits 8-9, then cylinder 0-7
ENTRY_LBA       equ 8                   ; first sector as a 32-bit LBA
STATUS_ACTIVE   equ 0x80
BOOT_SIGNATURE  equ 0xAA55
SIGNATURE_AT    equ LOAD_ADDRESS + 510
TRIES           equ 5

start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, LOAD_ADDRESS
        mov     ds, ax
        mov     es, ax
        sti
        cld
        mov     si, LOAD_ADDRESS
        mov     di, RELOCATED
        mov     cx, 256
        rep movsw
        jmp     0:relocated

relocated:
        mov     [boot_drive], dl

        ; Exactly one entry may be active; any status other than 0x00 or 0x80 is damage.
        mov     si, TABLE
        mov     cx, ENTRY_COUNT
        xor     bp, bp
.scan:
        mov     al, [si]
        test    al, al
        jz      .next
        cmp     al, STATUS_ACTIVE
        jne     invalid_table
        test    bp, bp
        jnz     invalid_table
        mov     bp, si
.next:
        add     si, ENTRY_BYTES
        loop    .scan
        test    bp, bp
        jnz     load
        int     0x18                    ; nothing to boot here: let the BIOS try the next device
        jmp     missing_os

load:
        mov     di, TRIES
        mov     dl, [boot_drive]
        mov     ah, 0x41                ; are the extended disk services there?
        mov     bx, 0x55AA
        int     0x13
        jc      .chs
        cmp     bx, BOOT_SIGNATURE
        jne     .chs
        test    cl, 1                   ; packet interface supported
        jz      .chs

.extended:
        push    dword 0                 ; disk address packet, built on the stack:
        push    dword [bp + ENTRY_LBA]  ;   64-bit LBA
        push    word 0                  ;   buffer segment
        push    word LOAD_ADDRESS       ;   buffer offset
        push    word 1                  ;   one sector
        push    word 0x0010             ;   packet size
        mov     si, sp
        mov     dl, [boot_drive]
        mov     ah, 0x42
        int     0x13
        lea     sp, [si + 16]           ; drop the packet, keeping the carry flag
        jnc     loaded
        call    reset_disk
        jnz     .extended
        jmp     load_error

.chs:
        mov     dh, [bp + ENTRY_HEAD]
        mov     cx, [bp + ENTRY_SECTOR]  ; CL = sector and cylinder high bits, CH = cylinder
        mov     dl, [boot_drive]
        mov     bx, LOAD_ADDRESS
        mov     ax, 0x0201
        int     0x13
        jnc     loaded
        call    reset_disk
        jnz     .chs
        jmp     load_error

loaded:
        cmp     word [SIGNATURE_AT], BOOT_SIGNATURE
        jne     missing_os
        mov     si, bp
        mov     dl, [boot_drive]
        jmp     0:LOAD_ADDRESS

; Resets the disk after a failed read; ZF set once the tries are used up.
reset_disk:
        xor     ax, ax
        mov     dl, [boot_drive]
        int     0x13
        dec     di
        ret

invalid_table:
        mov     si, msg_invalid
        jmp     fail
load_error:
        mov     si, msg_load
        jmp     fail
missing_os:
        mov     si, msg_missing
fail:
        lodsb
        test    al, al
        jz      halt
        mov     ah, 0x0E                ; teletype output
        mov     bx, 0x0007
        int     0x10
        jmp     fail
halt:
        hlt
        jmp     halt

msg_invalid:    db "Invalid partition table", 0
msg_load:       db "Error loading operating system", 0
msg_missing:    db "Missing operating system", 0
boot_drive:     db 0

        times   440 - ($ - $$) db 0
