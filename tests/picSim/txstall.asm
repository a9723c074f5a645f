; Waits for any byte, restarts the serial port, then sends pairs "AB", each 'B' written to TXREG one
; cycle later (after 'A') than the one before, so that one of them lands
; where the shift register empties; three passes of 256 pairs, each with its
; own alignment to the baud clock.  Ends with 'Z'.  Before each 'A' it waits
; for TRMT and then TXIF, as firmware that sends a byte does: a transmitter
; stuck with TRMT=1 and TXIF=0 stops it there for good.
        list    p=16f877a
        #include <p16f877a.inc>
        errorlevel -302 ; bank selection is done with banksel throughout
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_OFF & _BOREN_OFF & _LVP_OFF

        cblock  0x70            ; shared by all banks
        count, coarse, fine, pairs, pass
        endc

        org     0
        goto    main

        org     0x10
        #include "usart.inc"

; 767 cycles, call included.
wait767
        movlw   d'254'
        movwf   count
wait767Loop
        decfsz  count, F
        goto    wait767Loop
        return

main
        call    usartInit
        call    usartGet
        bcf     RCSTA, SPEN     ; restart the baud clock here, so every run
        bsf     RCSTA, SPEN     ; sweeps the same cycles whenever 'g' came
        clrf    pass
passStart
        movlw   1
        movwf   coarse
        clrf    fine
        clrf    pairs
pair
        banksel TXSTA
pairIdle
        btfss   TXSTA, TRMT
        goto    pairIdle
        banksel PIR1
pairFree
        btfss   PIR1, TXIF
        goto    pairFree
        movlw   'A'
        movwf   TXREG
        call    wait767         ; 'A' leaves the shift register about
        call    wait767         ; 2600 cycles after this write
        call    wait767
        movlw   d'40'
        movwf   count
pairBase
        decfsz  count, F
        goto    pairBase
        movf    coarse, W
        movwf   count
pairCoarse
        decfsz  count, F
        goto    pairCoarse
        btfsc   fine, 0         ; +1 cycle
        goto    $ + 1
        btfsc   fine, 1         ; +2 cycles
        goto    $ + 1
        btfsc   fine, 1
        goto    $ + 1
        movlw   'B'
        movwf   TXREG
        btfsc   pass, 0         ; the pass's shift against the baud clock
        goto    $ + 1
        btfsc   pass, 1
        goto    $ + 1
        btfsc   pass, 1
        goto    $ + 1
        incf    fine, F
        movf    fine, W
        xorlw   3
        btfss   STATUS, Z
        goto    pairNext
        clrf    fine
        incf    coarse, F
pairNext
        decfsz  pairs, F
        goto    pair
        incf    pass, F
        movf    pass, W
        xorlw   3
        btfss   STATUS, Z
        goto    passStart
        movlw   'Z'
        call    usartPut
        goto    main

        end
