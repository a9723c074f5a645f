; eeprom: the whole data EEPROM laid out with `de`, and a program that shows
; the first byte of the greeting on PORTB.
;
; `de` puts each byte in a word of its own (high byte zero): EEPROM offset N
; lies at byte address 0x4200 + 2*N of the hex file.  gpasm counts two
; addresses for each such byte, so `org 0x2100 + 2*N` is how its source
; reaches EEPROM offset N (org 0x2100 + N would land at offset N/2).

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; banked register access is intended

        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF

        org     0x0000
        clrf    PCLATH
        goto    start

        org     0x0004
        retfie

start:
        banksel TRISB
        clrf    TRISB           ; PORTB shows the byte read
        banksel EEADR
        movlw   0               ; EEPROM offset of the greeting
        movwf   EEADR
        banksel EECON1
        bcf     EECON1, EEPGD   ; data memory, not program memory
        bsf     EECON1, RD
        banksel EEDATA
        movf    EEDATA, w
        banksel PORTB
        movwf   PORTB
idle:
        goto    idle

; EEPROM offsets 0x00-0x11: a greeting.  Offsets 0x12-0x3F stay erased.
        org     0x2100
        de      "Hello from EEPROM", 0

; Offsets 0x40-0x4F: squares.
        org     0x2100 + 2 * 0x40
        de      0, 1, 4, 9, 16, 25, 36, 49, 64, 81, 100, 121, 144, 169, 196, 225

; Offsets 0x50-0xFF, the rest of the 256 bytes: a pattern that holds 0xFF at
; offset 0x5A, the erased value, which leaves that byte erased on the chip.
n = 0x50
        while   n < 256
        de      n ^ 0xA5
n += 1
        endw

        end
