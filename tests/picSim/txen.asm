; Waits for any byte, sends 'x', turns the transmitter off and on again as
; a bootloader handing over to an application does (TXSTA cleared, then set
; up again) and sends "ab" back to back, as the data sheet allows once TXEN
; has set TXIF.  Then puts the whole USART back to its reset values, SPBRG
; included, sets it up again and sends "cd".  Then idles.
        list    p=16f877a
        #include <p16f877a.inc>
        errorlevel -302 ; bank selection is done with banksel throughout
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_OFF & _BOREN_OFF & _LVP_OFF

        org     0
        goto    main

        org     0x10
        #include "usart.inc"

main
        call    usartInit
        call    usartGet
        movlw   'x'
        call    usartPut
        banksel TXSTA
sent
        btfss   TXSTA, TRMT
        goto    sent
        clrf    TXSTA
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        banksel TXREG
        movlw   'a'
        movwf   TXREG
        movlw   'b'
        movwf   TXREG
        banksel TXSTA
drained
        btfss   TXSTA, TRMT
        goto    drained
        banksel RCSTA           ; the whole USART back to its reset values
        clrf    RCSTA
        banksel TXSTA
        clrf    TXSTA
        clrf    SPBRG
        call    usartInit       ; and set up again
        movlw   'c'
        call    usartPut
        movlw   'd'
        call    usartPut
idle
        goto    idle

        end
