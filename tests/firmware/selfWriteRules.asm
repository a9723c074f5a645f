; selfWriteRules.asm: self-write sequences for the listing check, each
; variant breaking one rule (-D UNLOCK_ORDER, WRITE_NOPS, READ_NOPS_SHORT,
; NO_PROMISE); without a variant every rule holds.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302

#ifndef NO_PROMISE
READ_NOPS       equ     2
#endif

        org     0
        bsf     STATUS, RP0
        bsf     STATUS, RP1
        bsf     EECON1, WREN
#ifdef UNLOCK_ORDER
        movlw   0xAA
        movwf   EECON2
        movlw   0x55
        movwf   EECON2
#else
        movlw   0x55
        movwf   EECON2
        movlw   0xAA
        movwf   EECON2
#endif
        bsf     EECON1, WR
        nop
#ifndef WRITE_NOPS
        nop
#endif
        bsf     EECON1, RD
        nop
#ifndef READ_NOPS_SHORT
        nop
#endif
        goto    $
        end
