; hello: greets on the serial line at 19200 bit/s, then echoes what it
; receives, letters upper-cased; a carriage return comes back as CR LF, so
; Enter starts a new line in any terminal program.
;
; For a 20 MHz crystal, as our bootloader's default build (firmware/) and
; picSim assume.  Upload it and watch it in one go:
;
;     programUploader -p /dev/ttyUSB0 --monitor examples/hello/hello.inhx32.hex
;
; The configuration word below is what the program needs; through a
; bootloader the chip keeps the bootloader's, which is the same here.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; banked register access is intended

        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _CP_OFF

BRG     equ     64              ; 20 MHz / (16 x (64 + 1)) = 19231 bit/s, BRGH=1

        cblock  0x20
            index               ; the greeting's next character
            char                ; the byte being echoed
        endc

; The bootloader runs the first four words from its own slot: a jump, and
; nothing else, goes here.
        org     0x0000
reset:
        clrf    PCLATH
        goto    start

        org     0x0004
isr:
        retfie                  ; no interrupts are enabled

start:
        banksel SPBRG
        movlw   BRG
        movwf   SPBRG
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        banksel RCSTA
        movlw   (1 << SPEN) | (1 << CREN)
        movwf   RCSTA           ; TRISC's RC6 and RC7 bits stay 1, as from reset

        clrf    index
greet:
        movf    index, w
        call    greeting
        iorlw   0               ; 0 ends the text
        btfsc   STATUS, Z
        goto    echo
        call    tx
        incf    index, f
        goto    greet

echo:
        btfsc   RCSTA, OERR
        goto    overrun
        btfss   PIR1, RCIF
        goto    echo
        movf    RCREG, w        ; reading it also clears a framing error
        movwf   char
        movlw   'a'
        subwf   char, w         ; carry: char >= 'a'
        btfss   STATUS, C
        goto    send
        movlw   'z' + 1
        subwf   char, w         ; carry: char > 'z'
        btfsc   STATUS, C
        goto    send
        movlw   'a' - 'A'
        subwf   char, f
send:
        movf    char, w
        call    tx
        movlw   '\r'
        xorwf   char, w
        btfss   STATUS, Z
        goto    echo
        movlw   '\n'
        call    tx
        goto    echo

; A third byte arriving before the first two are read stops the receiver
; until CREN is cleared.
overrun:
        bcf     RCSTA, CREN
        bsf     RCSTA, CREN
        goto    echo

tx:
        btfss   PIR1, TXIF
        goto    tx
        movwf   TXREG
        return

; The character at W of the greeting, 0 after its end.  The table stays
; within one 256-word page of PCL, checked below.
greeting:
        movwf   char
        movlw   high text
        movwf   PCLATH
        movf    char, w
        addwf   PCL, f
text:
        dt      "Hello from the PIC16F877A. Type something: it comes back in capitals.\r\n", 0
text_end:
 if high text != high (text_end - 1)
        error "the greeting crosses a 256-word page"
 endif

        end
