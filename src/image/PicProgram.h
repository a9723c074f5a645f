// The program image: everything one program gives to a PIC, held as words of
// program flash, configuration words and data EEPROM, addressed by one image
// address space:
//
//   flash          0x0000-0x1FFF   valid below the flash size
//   configuration  0x2000-0x2007   always valid
//   EEPROM         0x2100-0x21FF   valid below 0x2100 + the EEPROM size
//
// In an Intel HEX file a word at image address A lies at byte address 2*A,
// low byte first.  A location is used when it differs from the blank value
// 0xFFFF; reads of an address the image does not hold give -1.
#ifndef PIC_PROGRAM_H
#define PIC_PROGRAM_H

#include <cstdio>
#include <functional>
#include <string>

class PicProgram {
public:
    static constexpr int BLANK = 0xFFFF;

    static constexpr int FLASH_CAPACITY = 8192;
    static constexpr int EEPROM_CAPACITY = 256;
    static constexpr int CONFIG_CAPACITY = 8;

    static constexpr int FLASH_START = 0x0000;
    static constexpr int FLASH_END = 0x1FFF;
    static constexpr int CONFIG_START = 0x2000;
    static constexpr int CONFIG_END = 0x2007;
    static constexpr int EEPROM_START = 0x2100;
    static constexpr int EEPROM_END = 0x21FF;

    PicProgram();
    // Flash size first, EEPROM size second; sizes outside 0-8192 and 0-256
    // are clamped into range.
    PicProgram(int flashSize, int eepromSize);

    bool isValidAddr(int address) const;
    int getData(int address) const;
    bool setData(int address, int value);
    // First used image address at or above `address`, searching only the
    // region that holds it (flash into configuration when flash is 8192
    // words and the search starts at 0x2000); -1 when there is none.
    int findData(int address) const;
    // True when any address in from..to (inclusive) is not blank; addresses
    // the image does not hold count as used.
    bool isUsed(int from, int to) const;
    int getFlashSize() const;
    int getEepromSize() const;
    bool fits() const;
    // Blanks configuration words 0x2000-0x2006; 0x2007 keeps its value.
    void clearConfig();

    // Receives each of the reader's messages as a whole line, "\n" included.
    using ReadReport = std::function<void(const char* message)>;
    // The same message as data, for a caller that words it its own way (the
    // page): what the reader found, on which line, with the message's figures.
    struct ReadIssue {
        enum class Kind {
            ReadError,            // the stream failed; detail: the system's reason
            EndInRecord,          // the file ends inside the record on line
            NoEndRecord,          // the file ends after line without an end record
            BadChecksum,          // value: the checksum read, expected: the one the bytes need
            RecordCutShort,       // the line ends before its record's checksum
            InvalidCharacter,     // value: the character
            NoRecord,             // detail: the line's first characters, escaped
            InvalidAddress,       // value: the image address (a dropped word; reading goes on)
            ExtendedAddressSize,  // value: the bytes the record holds instead of 2
            UnknownRecordType,    // value: the type
        };
        Kind kind = Kind::ReadError;
        int line = 0;  // counted from 1; 0 for a read error
        long value = 0;
        long expected = 0;
        std::string detail;
        std::string message;  // the line ReadReport receives, "\n" included
    };
    using IssueReport = std::function<void(const ReadIssue&)>;
    // Receives the image address of each word the reader dropped because the
    // image has no place for it (the same word's message goes to the report).
    using DroppedWord = std::function<void(long address)>;

    // Adds the words of an Intel HEX stream to the image.  Returns false on a
    // read error (bad checksum, stray character, short record, a line that
    // holds no record, unknown record type, no end record), after one
    // message; no word of a refused record is stored.  A word at an address
    // the image lacks gets a message of its own and reading goes on.
    // Messages go to standard error, or to report.
    bool readHex(FILE* file);
    bool readHex(FILE* file, const ReadReport& report, const DroppedWord& dropped = nullptr);
    bool readHex(FILE* file, const IssueReport& report, const DroppedWord& dropped = nullptr);
    // Writes the whole image as Intel HEX; false when the stream refuses output.
    bool writeHex(FILE* file) const;

    // New images, owned by the caller: this image's words win over other's
    // (merge); this image's words where the two differ (diff).
    PicProgram* merge(const PicProgram* other) const;
    PicProgram* diff(const PicProgram* other) const;
    // True when every used word of this image equals other's word there.
    // Not symmetric: a blank image equals every image.
    bool equals(const PicProgram* other) const;

    // Per-region access: positions are flash addresses, EEPROM offsets and
    // configuration indexes.  A negative search start counts as 0.
    int getFlashData(int address) const;
    int getEepromData(int offset) const;
    int getConfigData(int index) const;
    int findUsedFlash(int from) const;
    int findUsedEeprom(int from) const;
    int findUsedConfig(int from) const;

private:
    void _construct(int flashSize, int eepromSize);
    void initFlash();
    void initEeprom();
    void initConfig();
    bool _writeHex(FILE* file, int start) const;
    void _merge(int address, const PicProgram* other, PicProgram* result) const;
    void _diff(int address, const PicProgram* other, PicProgram* result) const;

    int flashData[FLASH_CAPACITY];
    int eepromData[EEPROM_CAPACITY];
    int configData[CONFIG_CAPACITY];
    int flashSize;
    int eepromSize;
    int flashHighWater;
    int eepromHighWater;
};

#endif
