; fill: a program whose lookup table fills the flash up to 0x1EFF, the last
; word below the bootloader, which occupies 0x1F00-0x1FFF.
;
; The program plays the table on PORTB, one entry after the other, with a
; computed jump that sets PCLATH itself, so the table may cross every
; 256-word and 2K-page boundary.  Every word from 0x0000 to 0x1EFF is used
; except 0x0002-0x0003, left out by the jump to the interrupt vector.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; banked register access is intended

        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF

TABLE_END equ   0x1F00          ; first address the bootloader keeps

        cblock  0x20
            idxl                ; table index, 13 bits
            idxh
            jmpl                ; address of the entry to jump to
        endc

        org     0x0000
        clrf    PCLATH
        goto    start

        org     0x0004
        retfie

start:
        banksel TRISB
        clrf    TRISB
        banksel PORTB
rewind:
        clrf    idxl
        clrf    idxh
next:
        call    lookup
        movwf   PORTB
        incf    idxl, f
        btfsc   STATUS, Z
        incf    idxh, f
        ; stop at the end of the table: index == TABLE_END - table
        movf    idxl, w
        xorlw   low (TABLE_END - table)
        btfss   STATUS, Z
        goto    next
        movf    idxh, w
        xorlw   high (TABLE_END - table)
        btfss   STATUS, Z
        goto    next
        clrf    PCLATH
        goto    rewind

; W = table[idxh:idxl].  The retlw of the entry returns to lookup's caller.
lookup:
        movlw   low table
        addwf   idxl, w
        movwf   jmpl
        movlw   high table
        btfsc   STATUS, C
        addlw   1
        addwf   idxh, w
        movwf   PCLATH
        movf    jmpl, w
        movwf   PCL

; Entries that differ from their neighbours, so that a word written to the
; wrong address shows.
table:
; gpasm stops a while loop after 256 rounds: an outer loop per 256 entries.
i = 0
        while   table + i < TABLE_END
j = 0
        while   j < 256 && table + i < TABLE_END
        retlw   (i * 37 + (i >> 8)) & 0xFF
i += 1
j += 1
        endw
        endw

        end
