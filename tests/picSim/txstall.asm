; Waits for any byte, then sends pairs "AB", each 'B' written to TXREG one
; cycle later (after 'A') than the one before, across the cycle where the
; shift register empties; 16 passes of 102 pairs, each pass with its own
; alignment to the baud clock.  Ends with 'Z'.  Before each 'A' it waits
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

; Called after a skip test: 3, 7 and 15 cycles more than a skip.
wait2
        return
wait4
        goto    $ + 1
        goto    $ + 1
        return
wait8
        goto    $ + 1
        goto    $ + 1
        goto    $ + 1
        goto    $ + 1
        goto    $ + 1
        goto    $ + 1
        return

main
        call    usartInit
        call    usartGet
        clrf    pass
passStart
        movlw   d'34'           ; 'B' from about 2540 cycles after 'A'
        movwf   coarse
        clrf    fine
        movlw   d'102'
        movwf   pairs
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
        btfsc   pass, 0         ; the pass's own shift against the baud
        goto    $ + 1           ; clock: 0 to 26 cycles
        btfsc   pass, 1
        call    wait2
        btfsc   pass, 2
        call    wait4
        btfsc   pass, 3
        call    wait8
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
        xorlw   d'16'
        btfss   STATUS, Z
        goto    passStart
        movlw   'Z'
        call    usartPut
        goto    main

        end
