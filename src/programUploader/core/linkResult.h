// What one exchange with the bootloader came to, as the link passes it on:
// a response, a frame, or a whole programming pass.
#ifndef LINK_RESULT_H
#define LINK_RESULT_H

struct LinkResult {
    enum class Outcome {
        Acknowledged,    // the ready byte came, and nothing failed the response before it
        ErrorReport,     // the bootloader reported an error: byte and address
        UnexpectedByte,  // a byte that is no part of a response: byte
        Timeout,         // no ready byte within the response window
        HungUp,          // the line went away
        Interrupted,     // a signal asked the run to end: address is the block in hand
    };
    Outcome outcome = Outcome::Acknowledged;
    int byte = 0;      // ErrorReport: the error byte; UnexpectedByte: the byte
    // The address of the last error report in the response (an image address
    // once a pass has placed an EEPROM block's), kept whatever ended the
    // response; -1 when none came.  Interrupted: the block's image address.
    int address = -1;
    // The failure came on an EEPROM block's data frame, whose addresses the
    // bootloader gives as offsets from the EEPROM's start.
    bool eepromData = false;
    // A failed pass: the image address of the block in hand; -1 otherwise.
    int block = -1;

    bool ok() const { return outcome == Outcome::Acknowledged; }
};

#endif
