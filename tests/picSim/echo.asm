; Echoes every byte received on the USART.
        list    p=16f877a
        #include <p16f877a.inc>
        errorlevel -302	; bank selection is done with banksel throughout
        __CONFIG _HS_OSC & _WDT_OFF & _PWRTE_OFF & _BOREN_OFF & _LVP_OFF

        org     0
        goto    main

        org     0x10
        #include "usart.inc"

main
        call    usartInit
loop
        call    usartGet
        call    usartPut
        goto    loop

        end
