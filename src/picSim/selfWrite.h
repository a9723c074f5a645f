// The chip's own writes to its memories (the EECON1/EECON2 sequence), as
// the PIC16F87xA data sheet describes them rather than as gpsim does:
//
// - program memory: words 0-2 of an aligned 4-word block go into write
//   latches; loading the 4th word (EEADR<1:0> = 11) erases and writes the
//   whole block, and the processor stops for the write time while the clock
//   and the peripherals run on.  EEADRH:EEADR reaches the 13-bit program
//   memory only, so code cannot change the configuration word.  WRT1:WRT0 of
//   the configuration word protect the bottom of program memory.
// - data EEPROM: the byte is written after the write time while the
//   processor runs on; WR stays set until then, EEIF is set at the end.  A
//   read leaves EEDATH<5:0> set, since the chip does not define them (the
//   eedath repair; without it EEDATH keeps what it held, as in gpsim).
//
// Every write needs WREN and the 55h, AAh sequence on EECON2 before WR.
#ifndef PICSIM_SELF_WRITE_H
#define PICSIM_SELF_WRITE_H

#include <cstdint>
#include <memory>
#include <set>

class GpsimRepairs;
class PicChip;
class Register;

class SelfWrite {
public:
    static constexpr uint64_t NEVER = UINT64_MAX;

    // Takes EECON1 and EECON2 over from gpsim in the chip's register file.
    SelfWrite(PicChip& chip, GpsimRepairs& repairs, double programWriteMs, double eepromWriteMs,
              const std::set<int>& stuckCells);
    ~SelfWrite();
    SelfWrite(const SelfWrite&) = delete;
    SelfWrite& operator=(const SelfWrite&) = delete;

    // The cycle at which a data EEPROM write in progress ends.
    uint64_t due() const { return eepromDue_; }
    void service(uint64_t now);

    uint64_t flashBlocksWritten() const { return flashBlocks_; }
    uint64_t eepromBytesWritten() const { return eepromBytes_; }

    // Called by the replacement registers.
    void putEecon1(unsigned value);
    unsigned getEecon1() const { return eecon1_; }
    void putEecon2(unsigned value);
    void onReset(bool powerOn);

private:
    enum class Sequence { Idle, Had55, Armed };
    void read();
    void startWrite();
    void writeProgramWord(int address, int word);
    bool writeProtected(int address);

    PicChip& chip_;
    GpsimRepairs& repairs_;
    uint64_t programWriteCycles_;
    uint64_t eepromWriteCycles_;
    std::set<int> stuckCells_;
    std::unique_ptr<Register> eecon1Register_;
    std::unique_ptr<Register> eecon2Register_;

    unsigned eecon1_ = 0;
    Sequence sequence_ = Sequence::Idle;
    int latches_[4];
    uint64_t eepromDue_ = NEVER;
    int eepromAddress_ = 0;
    int eepromData_ = 0;
    uint64_t flashBlocks_ = 0;
    uint64_t eepromBytes_ = 0;
};

#endif
