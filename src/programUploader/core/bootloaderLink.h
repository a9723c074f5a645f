// The serial link with the bootloader: command frames, the greeting, the
// responses and the programming passes, on a SerialLine with the time limits
// to use.  The link prints nothing: what the user reads goes to the
// reporter, and every exchange ends in a LinkResult that the caller decides
// on.  (linkFaces.h gives the same operations on a bare descriptor.)
#ifndef BOOTLOADER_LINK_H
#define BOOTLOADER_LINK_H

#include "PicProgram.h"
#include "linkResult.h"
#include "serialLine.h"
#include "uploadReporter.h"

// How long the link waits, in milliseconds, and how often it sends a block
// again.  The defaults are the protocol's windows and no second try; tests
// shorten the windows.
struct LinkWindows {
    int greetingMs = 30000;        // the whole greeting loop
    int identificationMs = 1000;   // each address word and the ready byte
    int responseMs = 5000;         // one whole response, reports included
    // After a checksum report ('C') on a block's SET_ADDRESS or its frame,
    // SET_ADDRESS and the block go out again, up to this many times a block.
    int checksumRetries = 0;
};

// Writes the count command bytes and their checksum, one write call each;
// stops at the first byte that cannot go out within the response window.
LineResult sendCommand(SerialLine& line, const LinkWindows& windows, const unsigned char* command, int count);
// Sends the END_PROGRAMMING frame (0x01 0xFF); reads nothing.
LineResult endProgramming(SerialLine& line, const LinkWindows& windows);
// Greets the bootloader and reads its identification: Acknowledged with
// identity filled in, or what ended the greeting window (identity.year 0).
// The revision year is not judged here.
LinkResult handShake(SerialLine& line, const LinkWindows& windows, BootloaderIdentity& identity);
// Waits for one response; write-test reports go to the reporter.
LinkResult getResponse(SerialLine& line, const LinkWindows& windows, UploadReporter& reporter);
// One programming pass from address (moved as the pass goes, -1 after the
// last block).  A failure's address is an image address, and Interrupted
// names the block in hand.
LinkResult outputProgram(const PicProgram& image, SerialLine& line, const LinkWindows& windows, int& address, int lower,
                         int upper, UploadReporter& reporter);

#endif
