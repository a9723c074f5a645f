; blink: toggles an LED on RB0 about twice a second.
;
; The crystal is 4 MHz unless assembled with -D FOSC=HZ (a multiple of
; 4 MHz up to 20 MHz: gpasm -D FOSC=20000000 for the bootloader's default
; build).  The configuration word below lands at 0x2007 in the hex file.
; The bootloader cannot change it: set it once with a hardware programmer.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; banked register access is intended

#ifndef FOSC
#define FOSC 4000000
#endif
 if FOSC % 4000000 || FOSC < 4000000 || FOSC > 20000000
        error "FOSC: 4, 8, 12, 16 or 20 MHz"
 endif

 if FOSC > 4000000
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF
 else
        __CONFIG _XT_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF
 endif

        cblock  0x20
            count1
            count2
            count3
        endc

        org     0x0000
reset:
        clrf    PCLATH          ; a bootloader jumps here with PCLATH set
        goto    start

        org     0x0004
isr:
        retfie                  ; no interrupts are enabled

start:
        banksel TRISB
        bcf     TRISB, 0        ; RB0 drives the LED
        banksel PORTB
        clrf    PORTB

loop:
        movlw   1<<0
        xorwf   PORTB, f        ; toggle RB0
        call    delay250ms
        goto    loop

; About 250 ms: 2 x 250 x 250 inner loops at 4 MHz, FOSC / 2 MHz times
; 250 x 250 at FOSC.
delay250ms:
        movlw   FOSC / 2000000
        movwf   count3
d3:     movlw   250
        movwf   count2
d2:     movlw   166
        movwf   count1
d1:     decfsz  count1, f
        goto    d1
        decfsz  count2, f
        goto    d2
        decfsz  count3, f
        goto    d3
        return

        end
