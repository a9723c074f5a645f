; A small monitor over the USART for testing the chip's self-writes.
;   'W' addrL addrH dataL dataH  write one program word with the EECON
;                                sequence; answers 'w' and TMR1 (L, H) ticks
;                                of 8 cycles across the sequence
;   'R' addrL addrH              answers the program word (L, H)
;   'E' addr data                write a data EEPROM byte and wait for WR to
;                                clear; answers 'e', TMR1 ticks (L, H) and
;                                PIR2 (EEIF is bit 4, cleared before)
;   'e' addr                     answers the data EEPROM byte, then EEDATH
;   'S'                          answers SPBRG as it was when the monitor
;                                started (before its USART setup)
;   'P' x y                      waits for x, lets 3 ms pass (y arrives
;                                meanwhile at 19200 bit/s), reads both from
;                                the receive FIFO and answers x y
; Anything else is answered with '?'.  Sends '>' once after each reset.
        list    p=16f877a
        #include <p16f877a.inc>
        errorlevel -302 ; bank selection is done with banksel throughout
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_OFF & _BOREN_OFF & _LVP_OFF

        cblock  0x70            ; shared by all banks
        cmd, adrL, adrH, datL, datH, startSpbrg
        endc

        org     0               ; below the USART code, the rest of the
        bsf     STATUS, RP0     ; monitor ends before 0x00F0: the write
        movf    SPBRG, W        ; protection test keeps 0x00F0-0x00FF blank
        movwf   startSpbrg
        goto    main

other
        movf    cmd, W
        xorlw   'S'
        btfsc   STATUS, Z
        goto    spbrgRead
        movlw   '?'
        call    usartPut
        goto    loop
spbrgRead
        movf    startSpbrg, W
        call    usartPut
        goto    loop

        org     0x10
        #include "usart.inc"

main
        call    usartInit
        movlw   (1 << T1CKPS1) | (1 << T1CKPS0) | (1 << TMR1ON)
        movwf   T1CON
        movlw   '>'
        call    usartPut
loop
        call    usartGet
        movwf   cmd
        xorlw   'W'
        btfsc   STATUS, Z
        goto    programWrite
        movf    cmd, W
        xorlw   'R'
        btfsc   STATUS, Z
        goto    programRead
        movf    cmd, W
        xorlw   'E'
        btfsc   STATUS, Z
        goto    eepromWrite
        movf    cmd, W
        xorlw   'e'
        btfsc   STATUS, Z
        goto    eepromRead
        movf    cmd, W
        xorlw   'P'
        btfsc   STATUS, Z
        goto    pairRead
        goto    other

getAddress
        call    usartGet
        movwf   adrL
        call    usartGet
        movwf   adrH
        return

; Sends W, then the two bytes of TMR1 taken into datL/datH.
sendTicks
        call    usartPut
        movf    datL, W
        call    usartPut
        movf    datH, W
        call    usartPut
        return

unlock
        banksel EECON2
        movlw   0x55
        movwf   EECON2
        movlw   0xAA
        movwf   EECON2
        bsf     EECON1, WR
        return

clearTimer
        banksel TMR1L
        clrf    TMR1H
        clrf    TMR1L
        return

takeTimer
        banksel TMR1L
        movf    TMR1L, W
        movwf   datL
        movf    TMR1H, W
        movwf   datH
        return

programWrite
        call    getAddress
        call    usartGet
        movwf   datL
        call    usartGet
        movwf   datH
        banksel EEADR
        movf    adrL, W
        movwf   EEADR
        movf    adrH, W
        movwf   EEADRH
        movf    datL, W
        movwf   EEDATA
        movf    datH, W
        movwf   EEDATH
        banksel EECON1
        bsf     EECON1, EEPGD
        bsf     EECON1, WREN
        call    clearTimer
        banksel EECON2
        movlw   0x55
        movwf   EECON2
        movlw   0xAA
        movwf   EECON2
        bsf     EECON1, WR
        nop
        nop
        bcf     EECON1, WREN
        call    takeTimer
        movlw   'w'
        call    sendTicks
        goto    loop

programRead
        call    getAddress
        banksel EEADR
        movf    adrL, W
        movwf   EEADR
        movf    adrH, W
        movwf   EEADRH
        banksel EECON1
        bsf     EECON1, EEPGD
        bsf     EECON1, RD
        nop
        nop
        banksel EEDATA
        movf    EEDATA, W
        movwf   datL
        movf    EEDATH, W
        movwf   datH
        banksel PIR1
        movf    datL, W
        call    usartPut
        movf    datH, W
        call    usartPut
        goto    loop

eepromWrite
        call    usartGet
        movwf   adrL
        call    usartGet
        movwf   datL
        banksel EEADR
        movf    adrL, W
        movwf   EEADR
        movf    datL, W
        movwf   EEDATA
        banksel PIR2
        bcf     PIR2, EEIF
        banksel EECON1
        bcf     EECON1, EEPGD
        bsf     EECON1, WREN
        call    clearTimer
        call    unlock
eepromWait
        btfsc   EECON1, WR
        goto    eepromWait
        bcf     EECON1, WREN
        call    takeTimer
        movlw   'e'
        call    sendTicks
        movf    PIR2, W
        call    usartPut
        goto    loop

eepromRead
        call    usartGet
        banksel EEADR
        movwf   EEADR
        banksel EECON1
        bcf     EECON1, EEPGD
        bsf     EECON1, RD
        banksel EEDATA
        movf    EEDATA, W
        movwf   datL
        movf    EEDATH, W
        movwf   datH
        banksel PIR1
        movf    datL, W
        call    usartPut
        movf    datH, W
        call    usartPut
        goto    loop

pairRead
        btfss   PIR1, RCIF
        goto    pairRead
        movlw   d'20'           ; 20 x 767 cycles: 3 ms at 20 MHz
        movwf   datH
pairWait
        movlw   d'254'
        movwf   datL
pairWaitInner
        decfsz  datL, F
        goto    pairWaitInner
        decfsz  datH, F
        goto    pairWait
        call    usartGet
        movwf   adrL
        call    usartGet
        movwf   adrH
        movf    adrL, W
        call    usartPut
        movf    adrH, W
        call    usartPut
        goto    loop

        end
