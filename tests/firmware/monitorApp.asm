; monitorApp.asm: the application the monitor tests upload.  Its very first
; act is to set up the USART and print a line; then it echoes every byte
; it receives.  With -D SLOW it first waits about 20 ms and talks at 9600
; bit/s instead of 19200, as a program does that uses another speed than
; its bootloader.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302

        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _DEBUG_OFF & _CP_OFF

#ifdef SLOW
BRG     equ     129             ; 9600 bit/s at 20 MHz, BRGH=1
#else
BRG     equ     64              ; 19200 bit/s
#endif

inner   equ     0x70            ; shared by every bank
outer   equ     0x71

putc    macro   c
        movlw   c
        call    tx
        endm

        org     0x0000
        pagesel start
        goto    start

        org     0x0800
start:
#ifdef SLOW
        ; 130 rounds of 256 x 3 cycles and a few: about 100,000 cycles of
        ; 0.2 us, 20 ms.
        movlw   130
        movwf   outer
wait:
        clrf    inner
spin:
        decfsz  inner, f
        goto    spin
        decfsz  outer, f
        goto    wait
#endif
        banksel SPBRG
        movlw   BRG
        movwf   SPBRG
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        banksel RCSTA
        movlw   (1 << SPEN) | (1 << CREN)
        movwf   RCSTA

        putc    'a'
        putc    'p'
        putc    'p'
        putc    ' '
#ifdef SLOW
        putc    '9'
        putc    '6'
        putc    '0'
        putc    '0'
#else
        putc    'f'
        putc    'i'
        putc    'r'
        putc    's'
        putc    't'
#endif
        putc    '\n'

echo:
        btfsc   RCSTA, OERR
        goto    overrun
        btfss   PIR1, RCIF
        goto    echo
        movf    RCREG, w
        call    tx
        goto    echo
overrun:
        bcf     RCSTA, CREN
        bsf     RCSTA, CREN
        goto    echo

tx:
        btfss   PIR1, TXIF
        goto    tx
        movwf   TXREG
        return

        end
