// The PIC16F877A: gpsim's model of the chip, embedded, with the memories
// loaded from and saved to a program image.
#ifndef PICSIM_CHIP_H
#define PICSIM_CHIP_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class GpsimRepairs;
class P16F877A;
class ProgramMemory;
class PicProgram;
class PinModule;

class PicChip {
public:
    static constexpr int FLASH_WORDS = 0x2000;
    static constexpr int EEPROM_BYTES = 256;
    static constexpr int CONFIG_ADDRESS = 0x2007;

    // gpsim keeps one simulation context per process: one chip per process.
    PicChip(double clockHz, GpsimRepairs& repairs);
    ~PicChip();
    PicChip(const PicChip&) = delete;
    PicChip& operator=(const PicChip&) = delete;
    bool ok() const { return cpu_ != nullptr; }

    // Every location the image holds; blank locations read as erased.
    void load(PicProgram& image);
    void save(PicProgram& image);

    void powerOn();
    // MCLR pulled low and released.
    void pullMclr();

    uint64_t cycle() const;
    double cyclesPerSecond() const { return cyclesPerSecond_; }

    // One instruction cycle; during a program-memory write only the clock
    // and the peripherals run.
    void step() {
        if (pendingWrites_.empty() && haltUntil_ <= cycle())
            stepProcessor();
        else
            stepSlow();
    }
    // The processor stops executing for `cycles`, peripherals run on.
    void halt(uint64_t cycles);
    bool halted() const { return haltUntil_ > cycle(); }

    // Program memory changes wait for the instruction that caused them to
    // finish: gpsim rebuilds an instruction object when its word changes.
    void queueFlashWrite(int address, int word) { pendingWrites_.push_back({address, word}); }
    int flashWord(int address);
    int eepromByte(int offset);
    void setEepromByte(int offset, int value);
    int configWord();

    P16F877A& cpu() { return *cpu_; }
    PinModule& portC(int bit);

    uint64_t flashWordsWritten() const { return flashWordsWritten_; }
    // Instruction objects the program memory holds, one a word.
    uint64_t instructionsLive();
    // Line symbols gpsim lost when words were rewritten (flash-rewrite).
    uint64_t lineSymbolsLost() const;

private:
    struct PendingWrite {
        int address;
        int word;
    };
    void stepProcessor();
    void stepSlow();

    P16F877A* cpu_ = nullptr;  // owned by gpsim's simulation context
    GpsimRepairs& repairs_;
    std::unique_ptr<ProgramMemory> programMemory_;
    double cyclesPerSecond_;
    uint64_t haltUntil_ = 0;
    std::vector<PendingWrite> pendingWrites_;
    int ids_[7];  // configuration locations 0x2000-0x2006, which code cannot reach
    uint64_t flashWordsWritten_ = 0;
};

#endif
