// One chip of the PIC16F87x family (chipFamily.h): gpsim's model of it,
// embedded, with the memories loaded from and saved to a program image.
#ifndef PICSIM_CHIP_H
#define PICSIM_CHIP_H

#include "chipFamily.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class EEPROM_WIDE;
class GpsimRepairs;
class PIR;
class PicPortRegister;
class ProgramMemory;
class PicProgram;
class PinModule;
class USART_MODULE;
class pic_processor;

// gpsim's 28-pin chips (P16F873 and P16F876, each from P16C73) and 40-pin
// ones (P16F874, from P16C74) have no common base that holds the USART and
// the EEPROM: the parts picSim uses, found once for whichever was built.
struct GpsimParts {
    pic_processor* cpu = nullptr;
    USART_MODULE* usart = nullptr;
    PicPortRegister* portC = nullptr;
    EEPROM_WIDE* eeprom = nullptr;
    PIR* pir2 = nullptr;
};

class PicChip {
public:
    static constexpr int CONFIG_ADDRESS = 0x2007;

    // gpsim keeps one simulation context per process: one chip per process.
    PicChip(const ChipModel& model, double clockHz, GpsimRepairs& repairs);
    ~PicChip();
    PicChip(const PicChip&) = delete;
    PicChip& operator=(const PicChip&) = delete;
    bool ok() const { return parts_.cpu != nullptr; }
    const ChipModel& model() const { return model_; }

    // Every location the image holds; blank locations read as erased.  False
    // with the first address the chip lacks (flash or EEPROM past its size).
    bool load(PicProgram& image, int& missing);
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

    pic_processor& cpu() { return *parts_.cpu; }
    USART_MODULE& usart() { return *parts_.usart; }
    EEPROM_WIDE& eeprom() { return *parts_.eeprom; }
    PIR* pir2() { return parts_.pir2; }
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

    const ChipModel& model_;
    GpsimParts parts_;  // owned by gpsim's simulation context
    GpsimRepairs& repairs_;
    std::unique_ptr<ProgramMemory> programMemory_;
    double cyclesPerSecond_;
    uint64_t haltUntil_ = 0;
    std::vector<PendingWrite> pendingWrites_;
    int ids_[7];  // configuration locations 0x2000-0x2006, which code cannot reach
    uint64_t flashWordsWritten_ = 0;
};

#endif
