# A bootloader that never clears CREN: after an overrun its receiver stays
# stopped, as a chip's does.  The receiver tests must fail on it.
/^[[:space:]]*bcf[[:space:]]*RCSTA, CREN/d
