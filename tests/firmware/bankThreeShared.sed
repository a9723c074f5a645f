# A bootloader that tests its RAM at 0x70 in bank 3 on the 4K-word chips too,
# where bank 3's 0x1F0 is bank 1's 0xF0: an EEPROM block at offset 0 goes
# into flash 0x0000-0x0003.  The 4K-word chip's row must fail on it.
s/^ if SHARED_IN_BANK3$/ if 1/
