; overlap: a program for the PIC16F876A whose table runs into 0x1F00-0x1FFF,
; the words the bootloader occupies.
;
; The uploader refuses it ("ERROR: The program and the bootloader overlap.").
; With -o it sends everything outside that range: the program, the table up
; to 0x1EFF, then, because the programming pass jumps from the range straight
; to 0x2000, the configuration word, and last the EEPROM bytes.  The entries
; from 0x1F00 on never reach the chip.

        list    p=16f876a, r=dec
        #include <p16f876a.inc>
        errorlevel -302         ; banked register access is intended

        __CONFIG _XT_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF

TABLE   equ     0x1E00
ENTRIES equ     0x140           ; up to 0x1F3F, 0x40 words into the bootloader

        cblock  0x20
            index
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
        clrf    index
loop:
        call    lookup
        movwf   PORTB
        incf    index, f
        goto    loop

; W = TABLE[index], for the first 256 entries.
lookup:
        movlw   high TABLE
        movwf   PCLATH
        movf    index, w
        movwf   PCL

        org     TABLE
; gpasm stops a while loop after 256 rounds: an outer loop per 256 entries.
i = 0
        while   i < ENTRIES
j = 0
        while   j < 256 && i < ENTRIES
        retlw   low (i ^ 0x5A)
i += 1
j += 1
        endw
        endw

; Settings the program keeps in data EEPROM.
        org     0x2100
        de      0x01, 0x02, 0x03, 0x04, 0x05

        end
