# A bootloader whose EEPROM verify compares EEDATH too, which the data sheet
# leaves undefined after a data EEPROM read.  Its EEPROM upload must fail.
/^[[:space:]]*btfsc[[:space:]]*code, 0[[:space:]]*; an EEPROM read leaves EEDATH undefined/d
/^[[:space:]]*movf[[:space:]]*INDF, w[[:space:]]*;   the byte alone is compared/d
