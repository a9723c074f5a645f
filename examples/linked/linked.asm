; linked: the main module of a program linked from two relocatable modules,
; this one and delay.asm, with gplink and its default linker script for the
; PIC16F876A.  It counts on PORTB, one step every 100 ms (4 MHz crystal).
;
; The linker places the code sections; only the reset and interrupt vectors
; have fixed addresses.

        list    p=16f876a, r=dec
        #include <p16f876a.inc>
        errorlevel -302         ; banked register access is intended

        __CONFIG _XT_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF

        extern  delay_ms

        udata_shr
counter res     1

reset   code    0x0000
        clrf    PCLATH
        pagesel start
        goto    start

isr     code    0x0004
        retfie                  ; no interrupts are enabled

main    code
start:
        banksel TRISB
        clrf    TRISB
        banksel PORTB
        clrf    counter
loop:
        movf    counter, w
        movwf   PORTB
        incf    counter, f
        movlw   100
        pagesel delay_ms
        call    delay_ms
        pagesel loop
        goto    loop

        end
