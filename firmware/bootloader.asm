; bootloader.asm: serial bootloader for the PIC16F877A.
;
; Burnt once with a hardware programmer; from then on programUploader writes
; the application over the USART.  The bootloader occupies 0x1F00-0x1FFF and
; the jump at 0x0000-0x0002.  The application's first four words (the block
; the uploader sends for 0x0000) are kept in a slot at 0x1FF8-0x1FFB and run
; from there when the application starts.
;
; Assembly-time options, each given as gpasm -D NAME=VALUE (decimal):
;   FOSC       crystal frequency in Hz, 4000000-20000000     (default 20000000)
;   BAUD       line speed: 2400, 4800, 9600, 19200, 38400 or 57600
;                                                           (default 19200)
;   WINDOW_MS  how long after reset the bootloader waits for the uploader's
;              first poll before it starts the application, 100-2550 ms,
;              rounded down to 10 ms                       (default 1000)

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; banked registers are reached with the bank bits set by hand
        errorlevel -306         ; page crossings are intended: see the reset jump and the slot

        ; The application runs with this configuration too: code cannot
        ; change the configuration word.  The power-up timer and brown-out
        ; reset keep a self-write from running on a sagging supply.
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _DEBUG_OFF & _CP_OFF

;------------------------------------------------------------------ options

#ifndef FOSC
#define FOSC 20000000
#endif
#ifndef BAUD
#define BAUD 19200
#endif
#ifndef WINDOW_MS
#define WINDOW_MS 1000
#endif

 if FOSC < 4000000 || FOSC > 20000000
        error "FOSC: the HS oscillator takes crystals of 4 to 20 MHz"
 endif
 if BAUD != 2400 && BAUD != 4800 && BAUD != 9600 && BAUD != 19200 && BAUD != 38400 && BAUD != 57600
        error "BAUD: the uploader offers 2400, 4800, 9600, 19200, 38400 and 57600 only"
 endif
 if WINDOW_MS < 100 || WINDOW_MS > 2550
        error "WINDOW_MS: 100 to 2550"
 endif

; SPBRG: the high-speed divider (Fosc/16) where the value fits in 8 bits,
; else the low-speed one (Fosc/64); rounded to the nearest value.
BRG_DIV = 16 * BAUD
BRG_VALUE = (FOSC + BRG_DIV / 2) / BRG_DIV - 1
USE_BRGH = 1
 if BRG_VALUE > 255
BRG_DIV = 64 * BAUD
BRG_VALUE = (FOSC + BRG_DIV / 2) / BRG_DIV - 1
USE_BRGH = 0
 endif
 if BRG_VALUE < 0 || BRG_VALUE > 255
        error "BAUD: no SPBRG value gives this speed with this crystal"
 endif
; The speed SPBRG gives differs from BAUD by BRG_OFF / BRG_CLOCKS.  A receiver
; samples the middle of each bit; past about 2 % the last bits of a byte slip.
BRG_CLOCKS = (BRG_VALUE + 1) * BRG_DIV
BRG_OFF = FOSC - BRG_CLOCKS
 if BRG_OFF < 0
BRG_OFF = -BRG_OFF
 endif
; In thousandths of a percent, for the listing's symbol table.
BAUD_ERROR_MILLIPERCENT = BRG_OFF * 1000 / (BRG_CLOCKS / 100)
 if BRG_OFF * 50 > BRG_CLOCKS
        error "BAUD: SPBRG cannot get within 2 % of this speed with this crystal"
 endif

;------------------------------------------------------------------ layout

BOOT_START      equ     0x1F00          ; first and last word of the bootloader,
BOOT_END        equ     0x1FFF          ; as the identification reports them
SLOT            equ     0x1FF8          ; the application's block 0, an aligned block
APP_VECTOR      equ     0x0004          ; where the application goes on after its block 0
 if SLOT & 7
        error "SLOT: an aligned block whose address has bit 2 clear"
 endif

; Revision date of the greeting: 2006-07-07.  The uploader accepts the years
; 2003 to 2006 only and refuses the session otherwise, so the year is the
; last it takes.  Day and month equal the year's high byte, so the greeting's
; last three bytes go out from one load of W.
REV_YEAR        equ     2006
REV_MONTH       equ     high REV_YEAR
REV_DAY         equ     high REV_YEAR

; Bytes of the link.
POLL            equ     0x0D            ; the uploader's carriage return
GREETING_ID     equ     'K'
READY           equ     '>'
ERROR_REPORT    equ     '!'
CMD_END         equ     1               ; END_PROGRAMMING
CMD_SET         equ     2               ; SET_ADDRESS
CMD_PROG        equ     4               ; WRITE_PROGRAM_BLOCK
CMD_EEPROM      equ     5               ; WRITE_EEPROM_BLOCK
ERR_CHECKSUM    equ     'C'
ERR_VERIFY      equ     'V'
ERR_ADDRESS     equ     'A'
ERR_COMMAND     equ     'U'

; Time.  The receive wait polls in ticks of about 250 us.  A quiet gap of
; 10 ms tells one burst of polls from the next: the uploader waits at least
; 20 ms after the greeting before it answers or polls again, and the
; carriage returns it sent before the greeting reached it follow each other
; closer than that even at 2400 bit/s (4.2 ms a byte).
TICK_CYCLES     equ     FOSC / 16000
INNER           equ     (TICK_CYCLES - 7 + 2) / 5   ; 5 cycles a poll, 7 a tick besides
GAP_MS          equ     10
GAP_TICKS       equ     GAP_MS * 4
WINDOW_UNITS    equ     WINDOW_MS / GAP_MS

;------------------------------------------------------------------ RAM

; Only the 16 bytes that every bank shares, so no bank bits are needed for
; them; the application finds the rest of its RAM untouched.
        cblock  0x70
            code                ; command byte of the frame
            payload:8           ; the frame's four words, low byte first
            spill               ; a block's checksum byte lands here; flags in the poll phase
            addrL               ; the current address: image address of a
            addrH               ;   program block, offset of an EEPROM block
            cnt                 ; polls left in this tick; SET_ADDRESS's checksum lands here
            gap                 ; ticks left in this wait
            count               ; bytes left in the frame, then the word index in the
                                ;   block; in the poll phase the last byte ^ 'i'
            sum                 ; checksum
        endc
window          equ     payload         ; gaps left in the window (poll phase only)
flags           equ     spill
QUIET           equ     0               ; the line was quiet for a gap: a poll is new

;------------------------------------------------------------------ reset

        org     0x0000
        pagesel boot
        goto    boot

;------------------------------------------------------------------ start

; Entered from reset only: the bank bits and INTCON are taken at their
; power-on values.
        org     BOOT_START
boot:
        bsf     STATUS, RP0     ; bank 1
        movlw   BRG_VALUE
        movwf   SPBRG
        movlw   (1 << TXEN) | (USE_BRGH << BRGH)
        movwf   TXSTA
        bcf     STATUS, RP0     ; bank 0
        movlw   (1 << SPEN) | (1 << CREN)
        movwf   RCSTA

;------------------------------------------------------------------ poll phase

; Waits for polls.  The first carriage return of a burst is answered with the
; greeting; the ones that follow it closer than a quiet gap were sent before
; the greeting reached the uploader and are dropped, since a second greeting
; would spoil the first.  Every poll restarts the window; when it runs out,
; the application starts.  Any other byte counts as a gap, so noise shortens
; the window and never holds the application back.
poll_wait:
        bsf     flags, QUIET
pw_window:
        movlw   WINDOW_UNITS
        movwf   window
pw_next:
        call    rx_gap
        btfss   STATUS, C
        goto    pw_byte
pw_quiet:
        bsf     flags, QUIET
pw_unit:
        decfsz  window, f
        goto    pw_next
        ; falls into try_app

; Starts the application unless its block 0 is blank (never uploaded).
try_app:
        bsf     STATUS, RP1     ; bank 2
        movlw   high SLOT
        movwf   EEADRH
        movlw   low SLOT
        movwf   EEADR
ta_word:
        bsf     STATUS, RP0     ; bank 3
        bsf     EECON1, EEPGD
        bsf     EECON1, RD
        nop
        nop
        bcf     STATUS, RP0     ; bank 2
        movlw   0xC0            ; an erased word reads 0x3FFF
        iorwf   EEDATH, w
        andwf   EEDATA, w
        xorlw   0xFF
        btfss   STATUS, Z
        goto    start_app
        incf    EEADR, f
        btfss   EEADR, 2        ; past the slot's four words
        goto    ta_word
        bcf     STATUS, RP1     ; bank 0: nothing to start, wait for an uploader
        goto    poll_wait

pw_poll:
        btfss   flags, QUIET
        goto    pw_window
        bcf     flags, QUIET
        movlw   GREETING_ID
        call    tx
        call    tx
        movlw   low REV_YEAR
        call    tx
        movlw   high REV_YEAR   ; also REV_DAY and REV_MONTH
        call    tx
        call    tx
        call    tx
        goto    pw_window

pw_other:
        movwf   count           ; the byte ^ 'i': 1 for the 'h' of "hi"
        goto    pw_unit

pw_byte:
        xorlw   POLL
        btfsc   STATUS, Z
        goto    pw_poll
        xorlw   'i' ^ POLL
        btfss   STATUS, Z
        goto    pw_other
        decfsz  count, w        ; the 'i' of "hi" when the byte before was the 'h'
        goto    pw_unit

;------------------------------------------------------------------ frames

        movlw   low BOOT_START
        call    tx
        movlw   high BOOT_START
        call    tx
        movlw   low BOOT_END
        call    tx
        movlw   high BOOT_END
        call    tx
reply:
        movlw   READY
        call    tx
frame:
        call    rx_cmd          ; leaves C clear
        movwf   code
        movwf   sum
        movlw   payload
        movwf   FSR
        ; Bytes after the code, checksum included: 9 for a block, 1 for
        ; END_PROGRAMMING, 3 for SET_ADDRESS.
        movlw   9
        movwf   count
        movf    code, w
        andlw   0xFE
        xorlw   CMD_PROG        ; or CMD_EEPROM
        btfsc   STATUS, Z
        goto    fr_rest
        rlf     code, w         ; 2 * code: C is clear
        addlw   -1
        movwf   count
        ; SET_ADDRESS sets the address in place (a damaged one too: its 'C'
        ; report carries the address it brought); after END_PROGRAMMING no
        ; address is needed.
        movlw   addrL
        movwf   FSR
        decf    code, w
        andlw   0xFE            ; 0 for END_PROGRAMMING and SET_ADDRESS
        btfss   STATUS, Z
        goto    unknown
fr_rest:
        call    rx_cmd
        movwf   INDF
        addwf   sum, f
        incf    FSR, f
        decfsz  count, f
        goto    fr_rest
        movf    sum, f
        movlw   ERR_CHECKSUM
        btfss   STATUS, Z
        goto    failed
        btfsc   code, 2
        goto    block
        btfsc   code, 1
        goto    reply           ; SET_ADDRESS
        goto    try_app         ; END_PROGRAMMING

; Four words at the current address, written and then read back.  The code
; says what the address is, since SET_ADDRESS cannot tell a flash address
; from an EEPROM offset (0x00-0xFC are both): a program block takes one
; below 0x1F00 (these words, the configuration words out of reach of
; EEADRH:EEADR, and nothing lie above), an EEPROM block an offset below
; 0x100 and the low byte of each word.  Flash takes the four words as one
; aligned block: the chip latches the first three and erases and writes all
; four when the fourth is loaded.  Block 0 goes to the slot, so 0x0000-0x0002
; keep the jump here.
block:                          ; count is 0
        movlw   payload
        movwf   FSR
        movf    addrL, w
        andlw   3
        btfss   STATUS, Z
        goto    refuse
        movlw   high BOOT_START
        btfsc   code, 0         ; CMD_EEPROM
        movlw   1
        subwf   addrH, w
        btfsc   STATUS, C
        goto    refuse
        bsf     STATUS, RP1     ; bank 2
        movf    addrL, w
        movwf   EEADR
        movf    addrH, w
        movwf   EEADRH
        iorwf   addrL, w        ; Z: block 0
        btfsc   code, 0
        iorlw   1               ; an EEPROM offset stays where it is
        movlw   high SLOT
        btfsc   STATUS, Z
        movwf   EEADRH
        movlw   low SLOT
        btfsc   STATUS, Z
        movwf   EEADR
bk_write:
        movf    INDF, w
        movwf   EEDATA
        incf    FSR, f
        movf    INDF, w
        movwf   EEDATH
        incf    FSR, f
        bsf     STATUS, RP0     ; bank 3
        bsf     EECON1, EEPGD
        btfsc   code, 0
        bcf     EECON1, EEPGD
        bsf     EECON1, WREN
        movlw   0x55
        movwf   EECON2
        movlw   0xAA
        movwf   EECON2
        bsf     EECON1, WR
        nop                     ; the two cycles the chip takes to start a flash write;
        nop                     ; on the fourth word it halts here until the block is written
bk_busy:
        btfsc   EECON1, WR      ; an EEPROM byte is written while the processor runs on
        goto    bk_busy
        bcf     STATUS, RP0     ; bank 2
        incf    EEADR, f
        incf    count, f
        btfss   count, 2
        goto    bk_write

        ; Read back from the last word down: count, EEADR and FSR stand
        ; just past the block.
bk_verify:
        decf    count, f
        decf    EEADR, f
        decf    FSR, f          ; the word's high byte
        bsf     STATUS, RP0     ; bank 3
        bsf     EECON1, RD
        nop                     ; a flash word arrives in the second cycle after RD
        nop
        bcf     STATUS, RP0     ; bank 2
        ; An EEPROM read leaves EEDATH alone: it still holds the last high
        ; byte loaded, and those are all zero on the wire.
        movf    EEDATH, w
        xorwf   INDF, w
        andlw   0x3F            ; a flash cell holds 14 bits
        movwf   spill
        decf    FSR, f          ; its low byte
        movf    EEDATA, w
        xorwf   INDF, w
        iorwf   spill, w
        btfss   STATUS, Z
        goto    bad_word
        movf    count, f
        btfss   STATUS, Z
        goto    bk_verify
        bcf     STATUS, RP1     ; bank 0
        goto    block_done

refuse:
        movlw   ERR_ADDRESS
bk_report:
        call    report
block_done:
        movlw   4               ; the next block follows without SET_ADDRESS
        addwf   addrL, f
        btfsc   STATUS, C
        incf    addrH, f
        goto    reply

; A poll where a frame should start: an uploader begins a new session (the
; last one broke off), so the bootloader goes back to greeting.
unknown:
        xorlw   (POLL - 1) & 0xFE
        btfsc   STATUS, Z
        goto    poll_wait
        clrf    count
        movlw   ERR_COMMAND
failed:
        call    report
        goto    reply

;------------------------------------------------------------------ serial line

; An error report: '!', the error byte in W, the current address plus the
; word index in count.  Whatever is still arriving is dropped first, until
; the line is quiet: after a damaged frame or an unknown code the next frame
; then starts in step.
report:
        movwf   spill
rp_drain:
        call    rx_gap
        btfss   STATUS, C
        goto    rp_drain
        movlw   ERROR_REPORT
        call    tx
        movf    spill, w
        call    tx
        movf    addrL, w
        addwf   count, w
        call    tx
        movf    addrH, w
; Sends W and keeps it.
tx:
        btfss   PIR1, TXIF
        goto    tx
        movwf   TXREG
        return

; One received byte, however long it takes.
rx_cmd:
        call    rx_wait
        btfsc   STATUS, C
        goto    rx_cmd
        return

rx_gap:
        movlw   GAP_TICKS
        movwf   gap
; Waits up to gap ticks (0: 256) for a received byte: C clear and the byte in
; W, or C set when the line stayed quiet.  A byte with a framing error is
; line noise or a speed mismatch and is dropped.  An overrun stops the
; receiver until CREN is toggled; the bytes already in the FIFO are read first.
rx_wait:
        movlw   INNER
        movwf   cnt
rw_poll:
        btfsc   PIR1, RCIF
        goto    rw_byte
        decfsz  cnt, f
        goto    rw_poll
        btfsc   RCSTA, OERR
        bcf     RCSTA, CREN
        bsf     RCSTA, CREN
        decfsz  gap, f
        goto    rx_wait
        bsf     STATUS, C
        return
rw_byte:
        btfsc   RCSTA, FERR     ; belongs to the byte about to be read
        goto    rw_noise
        movf    RCREG, w
        bcf     STATUS, C
        return
rw_noise:
        movf    RCREG, w
        goto    rw_poll

;------------------------------------------------------------------ application

; Every register the bootloader changed goes back to its power-on value, so
; the application starts as from reset; the last instruction falls into the
; slot, since a goto from this page would need PCLATH set.  Entered in bank 2.
TAIL_WORDS      equ     10
        org     SLOT - TAIL_WORDS
start_app:
        bsf     STATUS, RP0     ; bank 3
        clrf    EECON1
        clrf    STATUS          ; bank 0
        clrf    RCSTA
        bcf     PIR2, EEIF
        bsf     STATUS, RP0     ; bank 1
        clrf    TXSTA
        clrf    SPBRG
        clrf    STATUS
        clrf    PCLATH
 if $ != SLOT
        error "the start of the application must end right before the slot"
 endif

        ; The slot, SLOT to SLOT + 3: the application's words, never in this file.

        org     SLOT + 4
        goto    APP_VECTOR      ; PCLATH is 0: page 0, as a program that runs on from 0x0003

bad_word:
        bcf     STATUS, RP1     ; bank 0
        movlw   ERR_VERIFY
        goto    bk_report

        end
