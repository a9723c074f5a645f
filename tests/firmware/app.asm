; app.asm: the application the firmware tests upload.  Once started it
; checks that the bootloader left the registers it used at their power-on
; values, sets up the USART itself and prints "app ok\n" (or "app regs\n" when
; a register was left changed); then it prints the same again for each '?'.
;
; Block 0 either runs on into 0x0004, as on a chip without bootloader
; (default), or, with -D JUMP, is the usual pagesel/goto to page 1.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302, -306

        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _DEBUG_OFF & _CP_OFF

bad     equ     0x70            ; shared by every bank

        org     0x0000
#ifdef JUMP
        pagesel start
        goto    start
#else
        clrf    bad
        nop
        nop
        nop
#endif

        org     0x0004
#ifdef JUMP
        retfie
#else
        movf    PCLATH, w       ; the bootloader's jump here leaves PCLATH at 0
        iorwf   bad, f
        pagesel start
        goto    start
#endif

        org     0x0800
start:
#ifdef JUMP
        clrf    bad
#endif
        movf    STATUS, w
        andlw   (1 << IRP) | (1 << RP1) | (1 << RP0)
        iorwf   bad, f
        movf    INTCON, w
        andlw   0xFE            ; RBIF is unknown at power-on
        iorwf   bad, f
        movf    RCSTA, w
        andlw   0xFE            ; RX9D likewise
        iorwf   bad, f
        movf    PIR2, w
        andlw   1 << EEIF
        iorwf   bad, f
        bsf     STATUS, RP0     ; bank 1
        movf    TXSTA, w
        xorlw   1 << TRMT       ; 0000 -010
        iorwf   bad, f
        movf    SPBRG, w
        iorwf   bad, f
        comf    TRISC, w        ; all inputs
        iorwf   bad, f
        bsf     STATUS, RP1     ; bank 3
        movf    EECON1, w
        andlw   (1 << WREN) | (1 << WR) | (1 << RD)
        iorwf   bad, f
        bcf     STATUS, RP1     ; bank 1

        movlw   64              ; 19200 bit/s at 20 MHz
        movwf   SPBRG
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        bcf     STATUS, RP0     ; bank 0
        movlw   (1 << SPEN) | (1 << CREN)
        movwf   RCSTA

report:
        movlw   'a'
        call    tx
        movlw   'p'
        call    tx
        call    tx
        movlw   ' '
        call    tx
        movf    bad, f
        btfss   STATUS, Z
        goto    regs
        movlw   'o'
        call    tx
        movlw   'k'
        call    tx
        goto    done
regs:
        movlw   'r'
        call    tx
        movlw   'e'
        call    tx
        movlw   'g'
        call    tx
        movlw   's'
        call    tx
done:
        movlw   '\n'
        call    tx
wait:
        btfsc   RCSTA, OERR
        bcf     RCSTA, CREN
        bsf     RCSTA, CREN
        btfss   PIR1, RCIF
        goto    wait
        movf    RCREG, w
        xorlw   '?'
        btfsc   STATUS, Z
        goto    report
        goto    wait

tx:
        btfss   PIR1, TXIF
        goto    tx
        movwf   TXREG
        return

        end
