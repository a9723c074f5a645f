// The chip's own writes to its memories (the EECON1/EECON2 sequence), as
// the PIC16F87x and PIC16F87xA data sheets describe them rather than as
// gpsim does:
//
// - program memory, the A parts: words 0-2 of an aligned 4-word block go
//   into write latches; loading the 4th word (EEADR<1:0> = 11) erases and
//   writes the whole block, and the processor stops for the write time while
//   the clock and the peripherals run on.  WRT1:WRT0 of the configuration
//   word protect the bottom of program memory (256 words, a quarter, half).
// - program memory, the older parts: each word is erased and written on its
//   own, the processor stopped for the write time; their one WRT bit clear
//   keeps code from writing flash at all.
// - on both, EEADRH:EEADR reaches the chip's flash only (12 or 13 bits), so
//   code cannot change the configuration word.
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

    // Flash writes: blocks on the A parts, words on the older ones.
    uint64_t flashBlocksWritten() const { return flashWrites_; }
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
    int programMask() const;

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
    uint64_t flashWrites_ = 0;
    uint64_t eepromBytes_ = 0;
};

#endif
