; bootloader.asm: serial bootloader for the PIC16F87x and PIC16F87xA.
;
; Burnt once with a hardware programmer; from then on programUploader writes
; the application over the USART.  The bootloader occupies the top 256 words
; of flash (0x1F00-0x1FFF on the 8K-word chips, 0x0F00-0x0FFF on the 4K-word
; ones) and the jump at 0x0000-0x0002.  The application's first four words
; (the block the uploader sends for 0x0000) are kept in a slot 8 words below
; the top of flash (0x1FF8-0x1FFB, 0x0FF8-0x0FFB) and run from there when the
; application starts.  The block before the slot is the commit block: the
; application starts through it, and it lets the application run only after
; a session that ended cleanly, so that a program written in part never
; starts.
;
; The chip is gpasm's processor, given on its command line:
;   gpasm -p p16f877a ...     (16F873, 874, 876, 877, 873A, 874A, 876A, 877A)
; and the layout follows from its flash and EEPROM sizes.  The A parts and
; the older ones of a size take the same words.
;
; Assembly-time options, each given as gpasm -D NAME=VALUE (decimal):
;   FOSC       crystal frequency in Hz, 4000000-20000000     (default 20000000)
;   BAUD       line speed: 2400, 4800, 9600, 19200, 38400 or 57600
;                                                           (default 19200)
;   WINDOW_MS  how long after reset the bootloader waits for the uploader's
;              first poll before it starts the application, 100-2550 ms,
;              rounded down to 10 ms                       (default 1000)
;   QUIET_S    how long a session may stay silent before it gives it up and
;              waits for polls again, 6-16 s                (default 10)
;   WDT        1: the configuration word turns the watchdog on (default 0)

        list    r=dec
        errorlevel -302         ; banked registers are reached with the bank bits set by hand
        errorlevel -306         ; page crossings are intended: see the reset jump and the slot

;------------------------------------------------------------------ chip

; A processor directive here would be the natural place, but gpasm 1.4 crashes
; on one inside a conditional: the processor comes from -p alone.
; NON_A: the older parts, whose single WRT bit must be set for code to write
; flash (their header calls that _WRT_ON; the A parts' _WRT_OFF, no
; protection, sets the same bits).
#ifdef __16F873
        #include <p16f873.inc>
FLASH_WORDS     equ     4096
EEPROM_BYTES    equ     128
NON_A           equ     1
#define CHIP_KNOWN
#endif
#ifdef __16F874
        #include <p16f874.inc>
FLASH_WORDS     equ     4096
EEPROM_BYTES    equ     128
NON_A           equ     1
#define CHIP_KNOWN
#endif
#ifdef __16F876
        #include <p16f876.inc>
FLASH_WORDS     equ     8192
EEPROM_BYTES    equ     256
NON_A           equ     1
#define CHIP_KNOWN
#endif
#ifdef __16F877
        #include <p16f877.inc>
FLASH_WORDS     equ     8192
EEPROM_BYTES    equ     256
NON_A           equ     1
#define CHIP_KNOWN
#endif
#ifdef __16F873A
        #include <p16f873a.inc>
FLASH_WORDS     equ     4096
EEPROM_BYTES    equ     128
NON_A           equ     0
#define CHIP_KNOWN
#endif
#ifdef __16F874A
        #include <p16f874a.inc>
FLASH_WORDS     equ     4096
EEPROM_BYTES    equ     128
NON_A           equ     0
#define CHIP_KNOWN
#endif
#ifdef __16F876A
        #include <p16f876a.inc>
FLASH_WORDS     equ     8192
EEPROM_BYTES    equ     256
NON_A           equ     0
#define CHIP_KNOWN
#endif
#ifdef __16F877A
        #include <p16f877a.inc>
FLASH_WORDS     equ     8192
EEPROM_BYTES    equ     256
NON_A           equ     0
#define CHIP_KNOWN
#endif
#ifndef CHIP_KNOWN
        error "the chip: gpasm -p p16f873, p16f874, p16f876, p16f877, p16f873a, p16f874a, p16f876a or p16f877a"
#endif
; Code may write flash: the A parts' "no write protection", the older parts'
; "writes allowed"; the same bits in both.
#ifdef CHIP_KNOWN
 if NON_A
SELF_WRITE      equ     _WRT_ON
 else
SELF_WRITE      equ     _WRT_OFF
 endif
#endif

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
#ifndef QUIET_S
#define QUIET_S 10
#endif
#ifndef WDT
#define WDT 0
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
 ; Longer than the uploader's own 5 s wait for an answer, so that a session
 ; is given up only after its uploader has given up too.
 if QUIET_S < 6 || QUIET_S > 16
        error "QUIET_S: 6 to 16"
 endif
 if WDT != 0 && WDT != 1
        error "WDT: 0 (watchdog off) or 1 (on)"
 endif

        ; The application runs with this configuration too: code cannot
        ; change the configuration word.  The power-up timer and brown-out
        ; reset keep a self-write from running on a sagging supply.
 if WDT
        __CONFIG _HS_OSC & _WDT_ON & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & SELF_WRITE & _DEBUG_OFF & _CP_OFF
 else
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & SELF_WRITE & _DEBUG_OFF & _CP_OFF
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

BOOT_START      equ     FLASH_WORDS - 0x100     ; first and last word of the bootloader,
BOOT_END        equ     FLASH_WORDS - 1         ; as the identification reports them
SLOT            equ     FLASH_WORDS - 8         ; the application's block 0, an aligned block
COMMIT          equ     SLOT - 4        ; the commit block, right before the slot
APP_VECTOR      equ     0x0004          ; where the application goes on after its block 0
 if SLOT & 7
        error "SLOT: an aligned block whose address has bit 2 clear"
 endif
; The commit block's words, by their high byte (the low byte is 0 in both):
; committed, nop, they run on into the slot; the hold, goto 0x0000 with
; PCLATH 0, goes back to the bootloader's reset jump.
COMMITTED       equ     0x00
HOLD            equ     0x28
 if (HOLD << 8) != (0x2800 | 0x0000) || COMMITTED != 0
        error "HOLD: the high byte of goto 0x0000; COMMITTED: of nop"
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
SESSION_START   equ     'i'             ; the second byte of the uploader's "hi"
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

; Time.  The receive wait polls the USART 256 times a tick, 5 cycles a poll
; and 9 more a tick: 1289 instruction cycles, 258 us at 20 MHz, 1.3 ms at
; 4 MHz.  A quiet gap of about 10 ms tells one burst of polls from the next:
; the uploader waits at least 20 ms after the greeting before it answers or
; polls again, and the carriage returns it sent before the greeting reached
; it follow each other closer than that even at 2400 bit/s (4.2 ms a byte).
TICK_CYCLES     equ     256 * 5 + 9
CYCLES_PER_MS   equ     FOSC / 4000
GAP_TICKS       equ     (10 * CYCLES_PER_MS + TICK_CYCLES / 2) / TICK_CYCLES
WINDOW_UNITS    equ     WINDOW_MS / 10
; Program memory reads: the data sheet's two cycles after RD.  The build's
; listing check holds every read to this count.
READ_NOPS       equ     2
QUIET_UNITS     equ     QUIET_S * 1000 * CYCLES_PER_MS / (256 * TICK_CYCLES)  ; waits of 256 ticks
 if QUIET_UNITS > 255
        error "QUIET_S: too long for this crystal"
 endif

;------------------------------------------------------------------ RAM

; 16 bytes at 0x70 that the banks the code uses share, so no bank bits are
; needed for them, and nine bytes of bank 0 for a block frame, reached
; through FSR only.  The application starts as from reset and finds the rest
; of its RAM untouched.  On the 8K-word chips every bank shares 0x70-0x7F;
; on the 4K-word ones banks 0 and 2 only: bank 3's 0x1F0 is bank 1's 0xF0
; (see write_word).
SHARED_IN_BANK3 equ     FLASH_WORDS == 8192
        cblock  0x70
            code                ; command byte of the frame
            spill               ; a scratch byte
            addrL               ; the current address: image address of a
            addrH               ;   program block, offset of an EEPROM block
            cnt                 ; polls left in this tick (0: 256); SET_ADDRESS's checksum lands here
            gap                 ; ticks left in this wait
            count               ; bytes left in the frame, then the word index in the block
            sum                 ; checksum
            window              ; gaps left in the window
            quiet               ; waits left before a silent session is given up
            session             ; what this session did, below
        endc
        cblock  0x20
            payload:8           ; the frame's four words, low byte first
            checksum            ; a block's checksum byte lands here
        endc
; session: cleared by "hi".  END_PROGRAMMING commits the application only
; when the session wrote flash and nothing else is set.
WROTE_FLASH     equ     0               ; the commit block holds the application back
REPORTED        equ     1               ; an error report that counts
CHECKSUM_OPEN   equ     2               ; a 'C' not yet followed by an acknowledged block

;------------------------------------------------------------------ reset

        org     0x0000
        pagesel boot
        goto    boot

;------------------------------------------------------------------ start

; Entered from reset, from an application that jumps to 0x0000, or when the
; application is held back: the bank bits are taken at their power-on
; values, interrupts are turned off.  SPEN comes before TXEN, as the data
; sheet asks.
        org     BOOT_START
boot:
        clrf    INTCON
        movlw   (1 << SPEN) | (1 << CREN)
        movwf   RCSTA
        bsf     STATUS, RP0     ; bank 1
        movlw   BRG_VALUE
        movwf   SPBRG
        movlw   (1 << TXEN) | (USE_BRGH << BRGH)
        movwf   TXSTA
        bcf     STATUS, RP0     ; bank 0

;------------------------------------------------------------------ poll phase

; Waits for polls.  A carriage return is answered with the greeting; the
; ones that follow it until the line has been quiet for a gap were sent
; before the greeting reached the uploader and are dropped, since a second
; greeting would spoil the first.  Every poll restarts the window; when it runs out, the
; application starts if it is committed.  Any other byte counts as a gap, so
; noise shortens the window and never holds the application back.
poll_wait:
        movlw   WINDOW_UNITS
        movwf   window
pw_next:
        call    rx_gap
        btfsc   STATUS, C
        goto    pw_unit
        xorlw   POLL
        btfsc   STATUS, Z
        goto    pw_poll
        xorlw   SESSION_START ^ POLL
        btfss   STATUS, Z
        goto    pw_unit

;------------------------------------------------------------------ frames

        clrf    session
 if low BOOT_START != 0
        error "W is 0 here, the low byte of BOOT_START"
 endif
        call    tx_boot_high
        movlw   low BOOT_END
        call    tx_boot_high
reply:
        movlw   READY
        call    tx
frame:
        call    rx_cmd          ; leaves C clear
        movwf   code
        movwf   sum
        ; Bytes after the code, checksum included: 9 for a block, 1 for
        ; END_PROGRAMMING, 3 for SET_ADDRESS.
        andlw   0xFE
        xorlw   CMD_PROG        ; or CMD_EEPROM
        movlw   payload
        movwf   FSR
        movlw   9 + 1
        btfsc   STATUS, Z
        goto    fr_count
        ; SET_ADDRESS sets the address in place (a damaged one too: its 'C'
        ; report carries the address it brought); after END_PROGRAMMING no
        ; address is needed.
        movlw   addrL
        movwf   FSR
        decf    code, w
        andlw   0xFE            ; 0 for END_PROGRAMMING and SET_ADDRESS
        btfss   STATUS, Z
        goto    unknown
        rlf     code, w         ; 2 * code: C is clear
fr_count:
        addlw   -1
        movwf   count
fr_rest:
        call    rx_cmd
        movwf   INDF
        incf    FSR, f
        addwf   sum, f          ; Z: the frame's bytes sum to 0
        decfsz  count, f
        goto    fr_rest
        movlw   ERR_CHECKSUM
        btfss   STATUS, Z
        goto    bad_sum
        btfsc   code, 2
        goto    block
        btfsc   code, 1
        goto    reply           ; SET_ADDRESS
        ; END_PROGRAMMING: a session that wrote flash and had no report that
        ; counts commits the application; any other leaves the commit block
        ; as it is.
        decf    session, w      ; Z: WROTE_FLASH alone, and W is COMMITTED
        btfsc   STATUS, Z
        call    fill_commit
        bcf     STATUS, RP1     ; bank 0
        goto    try_app

; Four words at the current address, written and then read back.  The code
; says what the address is, since SET_ADDRESS cannot tell a flash address
; from an EEPROM offset (0x00-0xFC are both): a program block takes one
; below BOOT_START (these words, the configuration words out of reach of
; EEADRH:EEADR, and nothing lie above), an EEPROM block an offset below
; EEPROM_BYTES and the low byte of each word.  The A parts take the four
; flash words as one aligned block: the chip latches the first three and
; erases and writes all four when the fourth is loaded; the older parts
; write each word as it comes, and the same code serves both.  Block 0 goes to the slot, so 0x0000-0x0002
; keep the jump here.  The session's first flash write first makes the
; commit block hold the application back.
block:                          ; count is 0
 if EEPROM_BYTES == 256
        movf    addrL, w
        andlw   3
 else
        ; With 128 EEPROM bytes an EEPROM offset must also be below 0x80
        ; (the offsets above would wrap onto the first half).
        movlw   3
        btfsc   code, 0         ; CMD_EEPROM
        movlw   (0x100 - EEPROM_BYTES) | 3
        andwf   addrL, w
 endif
        btfss   STATUS, Z
        goto    refuse
        movlw   high BOOT_START
        btfsc   code, 0         ; CMD_EEPROM
        movlw   1
        subwf   addrH, w
        btfsc   STATUS, C
        goto    refuse
        movlw   HOLD
        btfsc   code, 0         ; CMD_EEPROM
        goto    bk_place
        btfss   session, WROTE_FLASH
        call    fill_commit
        bsf     session, WROTE_FLASH
bk_place:
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
        movlw   payload
        movwf   FSR
bk_write:
        movf    INDF, w
        movwf   EEDATA
        incf    FSR, f
        movf    INDF, w
        movwf   EEDATH
        incf    FSR, f
        call    write_word
        incf    count, f
        btfss   count, 2
        goto    bk_write

        ; Read back from the last word down: EEADR and FSR stand just past
        ; the block, count is 4.  A flash cell holds 14 bits, and the
        ; uploader sends no more.
bk_verify:
        decf    EEADR, f
        decf    FSR, f          ; the word's high byte
        bsf     STATUS, RP0     ; bank 3
        bsf     EECON1, RD
        nop                     ; a flash word arrives in the second cycle after RD
        nop
        bcf     STATUS, RP0     ; bank 2
        movf    EEDATH, w
        btfsc   code, 0         ; an EEPROM read leaves EEDATH undefined:
        movf    INDF, w         ;   the byte alone is compared
        xorwf   INDF, w
        movwf   spill
        decf    FSR, f          ; its low byte
        movf    EEDATA, w
        xorwf   INDF, w
        iorwf   spill, w
        btfss   STATUS, Z
        goto    bad_word
        decfsz  count, f
        goto    bk_verify
        bcf     STATUS, RP1     ; bank 0
        goto    block_done

bad_word:
        bcf     STATUS, RP1     ; bank 0
        decf    count, f        ; the word's index in the block
        movlw   ERR_VERIFY
        goto    bk_counts

; The configuration and ID words (0x2000 and up) cannot be written from code;
; the uploader walks into them after the bootloader's range, and their 'A'
; spoils nothing.
refuse:
        movlw   ERR_ADDRESS
        btfss   addrH, 5        ; below 0x2000
bk_counts:
        bsf     session, REPORTED
        call    report
; A block answered: a 'C' before it was made good by a frame sent again.
block_done:
        bcf     session, CHECKSUM_OPEN
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
        bsf     session, REPORTED
        movlw   ERR_COMMAND
; A damaged frame: an uploader that sends it again and gets it through makes
; it good with the next block.
bad_sum:
        bsf     session, CHECKSUM_OPEN
        call    report
        goto    reply

; The first carriage return of a burst.
pw_poll:
        movlw   GREETING_ID
        call    tx
        call    tx
        movlw   low REV_YEAR
        call    tx
        movlw   high REV_YEAR   ; also REV_DAY and REV_MONTH
        call    tx
        call    tx
        call    tx
        call    drain
        goto    poll_wait

;------------------------------------------------------------------ self-writes

; Fills the commit block with words whose high byte is W and low byte 0.
; Bank 0 on entry, bank 2 on return.
fill_commit:
        bsf     STATUS, RP1     ; bank 2
        movwf   EEDATH
        clrf    EEDATA
        bcf     code, 0         ; program memory
        movlw   high COMMIT
        movwf   EEADRH
        movlw   low COMMIT
        movwf   EEADR
        call    write_word
        call    write_word
        call    write_word
        ; the fourth word writes the block

; Writes EEDATH:EEDATA at EEADRH:EEADR, in program memory or, for
; CMD_EEPROM, in the data EEPROM, and moves EEADR on.  Bank 2 on entry and
; on return.
write_word:
 if SHARED_IN_BANK3
        bsf     STATUS, RP0     ; bank 3
        bsf     EECON1, EEPGD
        btfsc   code, 0
        bcf     EECON1, EEPGD
        bsf     EECON1, WREN
 else
        ; In bank 3 code would be another byte (0x1F0 is 0xF0 here): the
        ; memory is chosen in bank 2, and EECON1 written whole.
        movlw   (1 << EEPGD) | (1 << WREN)
        btfsc   code, 0
        movlw   1 << WREN
        bsf     STATUS, RP0     ; bank 3
        movwf   EECON1
 endif
        movlw   0x55
        movwf   EECON2
        movlw   0xAA
        movwf   EECON2
        bsf     EECON1, WR
        nop                     ; the two cycles the chip takes to start a flash write;
        nop                     ; on the fourth word it halts here until the block is written
ww_busy:
        btfsc   EECON1, WR      ; an EEPROM byte is written while the processor runs on
        goto    ww_busy
        bcf     EECON1, WREN    ; no stray write until the next sequence
        bcf     STATUS, RP0     ; bank 2
        incf    EEADR, f
        return

;------------------------------------------------------------------ serial line

; An error report: '!', the error byte in W, the current address plus the
; word index in count.  Whatever is still arriving is dropped first, until
; the line is quiet: after a damaged frame or an unknown code the next frame
; then starts in step.
report:
        movwf   spill
        call    drain
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

; Sends W, then the high byte of the bootloader's range.
tx_boot_high:
        call    tx
        movlw   high BOOT_START
        goto    tx

; One received byte.  A session silent for QUIET_S seconds is given up: the
; uploader has long stopped waiting, so the bootloader waits for polls again
; and starts the application once the window passes, if it is committed.
rx_cmd:
        movlw   QUIET_UNITS
        movwf   quiet
rc_wait:
        call    rx_wait         ; 256 ticks, as a wait that ran out leaves gap 0
        btfss   STATUS, C
        return
        decfsz  quiet, f
        goto    rc_wait
        goto    poll_wait

; Drops what arrives until the line has been quiet for a gap.
drain:
        call    rx_gap
        btfss   STATUS, C
        goto    drain
        return

rx_gap:
        movlw   GAP_TICKS
        movwf   gap
; Waits up to gap ticks (0: 256) for a received byte: C clear and the byte in
; W, or C set when the line stayed quiet.  A byte with a framing error (line
; noise, a speed mismatch) is taken as it reads: it is no poll but by chance,
; and a frame it spoils fails its checksum.  An overrun stops the receiver
; until CREN is toggled; the bytes already in the FIFO are read first.
; Every wait of the bootloader passes here, so the watchdog is cleared here.
rx_wait:
        clrwdt
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
        movf    RCREG, w
        bcf     STATUS, C
        return

;------------------------------------------------------------------ application

; Every register the bootloader changed goes back to its power-on value, so
; the application starts as from reset (EECON1 needs nothing: WREN is
; cleared after each write and EEPGD has no power-on value).  Jumped to in
; bank 0; the commit block decides whether the slot runs.
APP_WORDS       equ     7
 if $ > COMMIT - APP_WORDS
        error "the code must end before the start of the application"
 endif
        org     COMMIT - APP_WORDS
start_app:
        clrf    RCSTA
        bcf     PIR2, EEIF
        bsf     STATUS, RP0     ; bank 1
        clrf    TXSTA
        clrf    SPBRG
        clrf    STATUS          ; bank 0
        clrf    PCLATH
 if $ != COMMIT
        error "the start of the application must end right before the commit block"
 endif

; The commit block.  A clean session leaves nops there, which run on into
; the slot.  A session that writes flash first fills it with the hold, a
; jump back to 0x0000, and it stays so until a clean session ends: a program
; written in part never starts.  The hex file carries the hold, so a chip
; burnt with it waits for its first upload.
        goto    0x0000
        goto    0x0000
        goto    0x0000
        goto    0x0000

        ; The slot, SLOT to SLOT + 3: the application's words, never in this
        ; file (a chip erase leaves them blank).

        org     SLOT + 4
        goto    APP_VECTOR      ; PCLATH is 0: page 0, as a program that runs on from 0x0003

pw_unit:
        decfsz  window, f
        goto    pw_next
; Runs the application's start through the commit block.  A hold there
; jumps to 0x0000 with the USART off and PCLATH 0, and the bootloader starts
; again as from reset.
try_app:                        ; bank 0
        goto    start_app

        end
