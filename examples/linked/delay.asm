; delay: the second module of the linked example.  delay_ms waits W
; milliseconds at 1 us per instruction cycle (4 MHz crystal), W from 1 to 255.

        list    p=16f876a, r=dec
        #include <p16f876a.inc>

        global  delay_ms

        udata
ms      res     1
inner   res     1

delay   code
delay_ms:
        banksel ms
        movwf   ms
ms_loop:
        movlw   249             ; 249 x 4 cycles + overhead: about 1 ms
        movwf   inner
inner_loop:
        nop
        decfsz  inner, f
        goto    inner_loop
        decfsz  ms, f
        goto    ms_loop
        return

        end
