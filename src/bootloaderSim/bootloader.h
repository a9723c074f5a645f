// The bootloader's side of the link: greeting, identification and the
// command frames, played on a Line over a Chip.
#ifndef SIM_BOOTLOADER_H
#define SIM_BOOTLOADER_H

#include "chip.h"
#include "line.h"
#include "options.h"
#include "stats.h"

#include <cstdint>
#include <vector>

constexpr uint8_t POLL = 0x0D;            // the uploader's carriage return
constexpr uint8_t GREETING_MARK = 'K';    // the greeting's two first bytes
constexpr uint8_t REPLY_FIRST = 'h';      // the uploader's answer "hi"
constexpr uint8_t REPLY_SECOND = 'i';
constexpr uint8_t READY = '>';            // ends the identification and each response
constexpr uint8_t WRONG_READY = '<';      // what badready sends instead
constexpr uint8_t ERROR_REPORT = '!';     // '!', error byte, address word
constexpr uint8_t WRITE_TEST_REPORT = 'w';  // 'w', address word, data word
constexpr uint8_t ERROR_CHECKSUM = 'C';
constexpr uint8_t ERROR_VERIFY = 'V';
constexpr uint8_t ERROR_ADDRESS = 'A';
constexpr uint8_t ERROR_UNKNOWN = 'U';

constexpr uint8_t END_PROGRAMMING = 1;      // code, checksum
constexpr uint8_t SET_ADDRESS = 2;          // code, address word, checksum
constexpr uint8_t WRITE_PROGRAM_BLOCK = 4;  // code, four words, checksum
constexpr uint8_t WRITE_EEPROM_BLOCK = 5;   // code, four words (low byte used), checksum

class Bootloader {
public:
    Bootloader(Line& line, Chip& chip, const Options& options, Stats& stats);

    enum class Outcome {
        Completed,   // END_PROGRAMMING came
        PeerGone,    // the uploader closed the line in mid-session
        Stopped,     // a signal asked the simulator to end
        LineClosed,  // the hangup fault closed the line
    };
    // Serves one session, from the first poll to its end.
    Outcome serveSession();
    // Wall time of a session still running when the run is stopped.
    void closeSessionClock();

private:
    enum class State { WaitingForPoll, WaitingForHi, Commands };
    struct Frame {
        uint8_t bytes[10];
        int length;
        double arrival;  // when the line delivered its last byte
    };

    void greet();
    void identify();
    void answer(Frame& frame);
    bool checksumOk(const Frame& frame) const;
    void report(std::vector<uint8_t>& reply, uint8_t error, int address);
    void writeProgramBlock(const Frame& frame, std::vector<uint8_t>& reply);
    void writeEepromBlock(const Frame& frame, std::vector<uint8_t>& reply);
    bool faultAtFrame(const std::vector<int>& frames) const;
    bool faultInBlock(const std::vector<int>& addresses, int imageStart, int words = protocol::BLOCK_WORDS) const;
    bool touchesBootloader(int start) const;
    void wait(double seconds);
    static int frameLength(uint8_t code);

    Line& line_;
    Chip& chip_;
    const Options& options_;
    Stats& stats_;
    double runStart_;

    // Per session.
    State state_ = State::WaitingForPoll;
    bool replyHalf_ = false;
    double sessionStart_ = -1;
    double greetingWritten_ = -1;
    double readyWritten_ = -1;
    // Where the chip's own time stands while it answers a frame: the frame's
    // arrival plus the write times so far.  Replies and waits are scheduled
    // from it rather than from when the process got round to them.
    double busyUntil_ = 0;
    int frame_ = 0;
    int address_ = 0;

    // Once per run.
    bool badReadyDone_ = false;
    bool muteDone_ = false;
    bool firstFrameSeen_ = false;
};

#endif
