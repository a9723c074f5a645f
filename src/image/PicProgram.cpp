#include "PicProgram.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <climits>
#include <cstdarg>
#include <string>

// ---------------------------------------------------------------- construction

PicProgram::PicProgram() { _construct(FLASH_CAPACITY, EEPROM_CAPACITY); }

PicProgram::PicProgram(int flashSize, int eepromSize) { _construct(flashSize, eepromSize); }

void PicProgram::_construct(int flash, int eeprom) {
    // The stores have fixed capacity; a size beyond it would let reads and
    // writes run past them.
    flashSize = std::clamp(flash, 0, FLASH_CAPACITY);
    eepromSize = std::clamp(eeprom, 0, EEPROM_CAPACITY);
    flashHighWater = 0;
    eepromHighWater = 0;
    initFlash();
    initEeprom();
    initConfig();
}

void PicProgram::initFlash() { std::fill(flashData, flashData + FLASH_CAPACITY, BLANK); }
void PicProgram::initEeprom() { std::fill(eepromData, eepromData + EEPROM_CAPACITY, BLANK); }
void PicProgram::initConfig() { std::fill(configData, configData + CONFIG_CAPACITY, BLANK); }

// ---------------------------------------------------------------- address map

bool PicProgram::isValidAddr(int address) const {
    if (address < 0) return false;
    if (address > eepromSize + 0x20FF) return false;
    if (address > CONFIG_END && address < EEPROM_START) return false;
    if (address <= FLASH_END && address >= flashSize) return false;
    return true;
}

int PicProgram::getData(int address) const {
    if (!isValidAddr(address)) return -1;
    if (address <= FLASH_END) return getFlashData(address);
    if (address <= CONFIG_END) return getConfigData(address - CONFIG_START);
    if (address >= EEPROM_START && address <= EEPROM_END) return getEepromData(address - EEPROM_START);
    return -1;
}

bool PicProgram::setData(int address, int value) {
    if (!isValidAddr(address)) return false;
    if (address <= FLASH_END) {
        flashData[address] = value;
        flashHighWater = std::max(flashHighWater, address);
    } else if (address <= CONFIG_END) {
        configData[address - CONFIG_START] = value;
    } else {
        int offset = address - EEPROM_START;
        eepromData[offset] = value;
        eepromHighWater = std::max(eepromHighWater, offset);
    }
    return true;
}

int PicProgram::findData(int address) const {
    if (!isValidAddr(address)) return -1;
    if (address <= FLASH_END) return findUsedFlash(address);
    if (address <= CONFIG_END) {
        int r = findUsedConfig(address - CONFIG_START);
        return r >= 0 ? r + CONFIG_START : -1;
    }
    if (address <= EEPROM_END) {
        int r = findUsedEeprom(address - EEPROM_START);
        return r >= 0 ? r + EEPROM_START : -1;
    }
    return -1;
}

bool PicProgram::isUsed(int from, int to) const {
    for (int a = from; a <= to; ++a) {
        if (getData(a) != BLANK) return true;
    }
    return false;
}

int PicProgram::getFlashSize() const { return flashSize; }
int PicProgram::getEepromSize() const { return eepromSize; }

bool PicProgram::fits() const { return flashHighWater < flashSize && eepromHighWater < eepromSize; }

void PicProgram::clearConfig() {
    // 0x2000-0x2006 are ID locations and reserved words; 0x2007 is the chip's
    // configuration word itself, which stays.
    std::fill(configData, configData + 7, BLANK);
}

// ---------------------------------------------------------------- per region

int PicProgram::getFlashData(int address) const {
    return (address >= 0 && address < flashSize) ? flashData[address] : -1;
}

int PicProgram::getEepromData(int offset) const {
    return (offset >= 0 && offset < eepromSize) ? eepromData[offset] : -1;
}

int PicProgram::getConfigData(int index) const {
    return (index >= 0 && index < CONFIG_CAPACITY) ? configData[index] : -1;
}

namespace {
int findUsed(const int* store, int from, int bound) {
    for (int i = std::max(from, 0); i < bound; ++i) {
        if (store[i] != PicProgram::BLANK) return i;
    }
    return -1;
}
}  // namespace

int PicProgram::findUsedFlash(int from) const { return findUsed(flashData, from, flashSize); }
int PicProgram::findUsedEeprom(int from) const { return findUsed(eepromData, from, eepromSize); }
int PicProgram::findUsedConfig(int from) const { return findUsed(configData, from, CONFIG_CAPACITY); }

// ---------------------------------------------------------------- merge, diff, equals

namespace {
// Visits flash, all eight configuration words, then EEPROM, over the larger
// sizes of the two images.
template <typename Visit>
void walkBoth(int flashSize, int eepromSize, Visit visit) {
    for (int a = 0; a < flashSize; ++a) visit(a);
    for (int a = PicProgram::CONFIG_START; a <= PicProgram::CONFIG_END; ++a) visit(a);
    for (int a = 0; a < eepromSize; ++a) visit(PicProgram::EEPROM_START + a);
}

// An address that only the larger image holds reads as blank in the smaller
// one, so the result never holds the "not held" marker -1 as a word.
int wordOrBlank(const PicProgram* image, int address) {
    int w = image->getData(address);
    return w == -1 ? PicProgram::BLANK : w;
}
}  // namespace

PicProgram* PicProgram::merge(const PicProgram* other) const {
    auto* result = new PicProgram(std::max(flashSize, other->flashSize),
                                  std::max(eepromSize, other->eepromSize));
    walkBoth(result->flashSize, result->eepromSize, [&](int a) { _merge(a, other, result); });
    return result;
}

void PicProgram::_merge(int address, const PicProgram* other, PicProgram* result) const {
    int mine = wordOrBlank(this, address);
    result->setData(address, mine == BLANK ? wordOrBlank(other, address) : mine);
}

PicProgram* PicProgram::diff(const PicProgram* other) const {
    auto* result = new PicProgram(std::max(flashSize, other->flashSize),
                                  std::max(eepromSize, other->eepromSize));
    walkBoth(result->flashSize, result->eepromSize, [&](int a) { _diff(a, other, result); });
    return result;
}

void PicProgram::_diff(int address, const PicProgram* other, PicProgram* result) const {
    int mine = wordOrBlank(this, address);
    result->setData(address, mine == wordOrBlank(other, address) ? BLANK : mine);
}

bool PicProgram::equals(const PicProgram* other) const {
    PicProgram* d = diff(other);
    bool same = d->findUsedFlash(0) == -1 && d->findUsedEeprom(0) == -1 && d->findUsedConfig(0) == -1;
    delete d;
    return same;
}

// ---------------------------------------------------------------- hex reader

namespace {
constexpr int RECORD_DATA = 0x00;            // data bytes at an address
constexpr int RECORD_END = 0x01;             // end of file
constexpr int RECORD_EXTENDED_SEGMENT = 0x02;  // base = value * 16
constexpr int RECORD_START_SEGMENT = 0x03;   // CS:IP start address, no data for us
constexpr int RECORD_EXTENDED_LINEAR = 0x04;   // base = value << 16
constexpr int RECORD_START_LINEAR = 0x05;    // EIP start address, no data for us

constexpr const char* READ_PREFIX = "PicProgram::readHex - ";

using Issue = PicProgram::ReadIssue;
using Kind = Issue::Kind;

Issue issue(Kind kind, int line, long value = 0, long expected = 0, std::string detail = {}) {
    Issue found;
    found.kind = kind;
    found.line = line;
    found.value = value;
    found.expected = expected;
    found.detail = std::move(detail);
    return found;
}

// Hands one finding with its formatted message to the caller's report.  The
// longest message, a line without a record shown as 16 escaped bytes, takes
// 122 characters.
__attribute__((format(printf, 3, 4))) void say(const PicProgram::IssueReport& report, Issue found,
                                               const char* format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    found.message = message;
    report(found);
}

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One record, ':' already consumed.  Every byte is checked before any word
// of the record reaches the image, so a damaged record stores nothing.
struct Record {
    int count = 0;
    int address = 0;
    int type = 0;
    unsigned char data[255] = {};
};

// getc answers EOF for a failed read too; a disk or pipe error must not
// read as a file that simply ends early.  True when it printed one.
bool reportReadError(FILE* file, const PicProgram::IssueReport& report) {
    if (!ferror(file)) return false;
    const char* reason = strerror(errno);
    say(report, issue(Kind::ReadError, 0, 0, 0, reason), "%sread error: %s\n", READ_PREFIX, reason);
    return true;
}

// How the search for the next record ended.
enum class Search { Record, End, Refused };

class HexScanner {
public:
    HexScanner(FILE* f, const PicProgram::IssueReport& r) : file(f), report(r) {}

    // Passes over everything up to the next ':': line ends, blank lines,
    // comment lines and text before a ':' on its line.  A line that holds no
    // record and is not a comment is refused, so that a record that lost its
    // ':' is not dropped in silence.
    Search findRecord() {
        for (;;) {
            int c = getc(file);
            // After a read error the line is not whole; its message says enough.
            if (c == EOF) return ferror(file) || endLine() ? Search::End : Search::Refused;
            if (c == '\n' && lastWasCr) {  // CR LF ends one line
                lastWasCr = false;
                continue;
            }
            lastWasCr = c == '\r';
            if (c == '\n' || c == '\r') {
                if (!endLine()) return Search::Refused;
                ++line;
                atLineStart = true;
                continue;
            }
            atLineStart = false;
            if (c == ':') {
                recordLine = line;
                lineHasRecord = true;
                return Search::Record;
            }
            noteText(c);
        }
    }

    bool readRecord(Record& r) {
        int sum = 0;
        int hi = 0, lo = 0;
        if (!readByte(r.count) || !readByte(hi) || !readByte(lo) || !readByte(r.type)) return false;
        r.address = hi << 8 | lo;
        sum = r.count + hi + lo + r.type;
        for (int i = 0; i < r.count; ++i) {
            int b = 0;
            if (!readByte(b)) return false;
            r.data[i] = static_cast<unsigned char>(b);
            sum += b;
        }
        int checksum = 0;
        if (!readByte(checksum)) return false;
        int expected = (0x100 - (sum & 0xFF)) & 0xFF;
        if (checksum != expected) {
            say(report, issue(Kind::BadChecksum, recordLine, checksum, expected),
                "%sbad checksum %02X on line %d (the record's bytes need %02X)\n", READ_PREFIX, checksum, recordLine,
                expected);
            return false;
        }
        return true;
    }

    int lineOfRecord() const { return recordLine; }
    // The file's last line: the one at its end, unless that line is empty.
    int lastLine() const { return atLineStart && line > 1 ? line - 1 : line; }

private:
    bool readByte(int& value) {
        int high = readDigit();
        if (high < 0) return false;
        int low = readDigit();
        if (low < 0) return false;
        value = high << 4 | low;
        return true;
    }

    int readDigit() {
        int c = getc(file);
        if (c == EOF) {
            if (!reportReadError(file, report))
                say(report, issue(Kind::EndInRecord, recordLine), "%sunexpected end of file\n", READ_PREFIX);
            return -1;
        }
        int v = hexValue(c);
        if (v >= 0) return v;
        if (c == '\n' || c == '\r') {
            say(report, issue(Kind::RecordCutShort, recordLine), "%sthe record on line %d ends before its checksum\n",
                READ_PREFIX, recordLine);
        } else if (isprint(c)) {
            say(report, issue(Kind::InvalidCharacter, recordLine, c),
                "%sinvalid character '%c' in the record on line %d\n", READ_PREFIX, c, recordLine);
        } else {
            say(report, issue(Kind::InvalidCharacter, recordLine, c),
                "%sinvalid character 0x%02X in the record on line %d\n", READ_PREFIX, c, recordLine);
        }
        return -1;
    }

    // One character of a line outside any record.
    void noteText(int c) {
        if (shownLength < sizeof shown) shown[shownLength++] = static_cast<char>(c);
        const bool blank = c == ' ' || c == '\t';
        if (first == NONE) {
            if (!blank) first = c;
            return;
        }
        if (first != ';' || comment == Comment::Text) return;
        // After a ';': hexadecimal digits, then only blanks, read as a record
        // whose ':' lost a bit (0x3A and 0x3B differ in one).
        if (hexValue(c) >= 0) {
            if (comment == Comment::Digits) ++commentDigits;
            else comment = Comment::Text;
        } else if (blank) {
            if (comment == Comment::Digits) comment = Comment::TrailingBlanks;
        } else {
            comment = Comment::Text;
        }
    }

    // The line just ended; false, after the message, when it holds no record
    // and is neither blank nor a comment.
    bool endLine() {
        const bool refused = !lineHasRecord && first != NONE &&
                             (first != ';' || (comment != Comment::Text && commentDigits > 0));
        if (refused) {
            std::string text;
            for (size_t i = 0; i < shownLength; ++i) {
                const unsigned char c = static_cast<unsigned char>(shown[i]);
                char escaped[5];
                if (c >= 0x20 && c < 0x7F) {
                    text += static_cast<char>(c);
                } else {
                    snprintf(escaped, sizeof escaped, "\\x%02X", c);
                    text += escaped;
                }
            }
            say(report, issue(Kind::NoRecord, line, 0, 0, text), "%sline %d holds no record: '%s'\n", READ_PREFIX, line,
                text.c_str());
        }
        lineHasRecord = false;
        first = NONE;
        comment = Comment::Digits;
        commentDigits = 0;
        shownLength = 0;
        return !refused;
    }

    FILE* file;
    const PicProgram::IssueReport& report;
    int line = 1;
    int recordLine = 1;
    bool lastWasCr = false;
    bool atLineStart = true;  // nothing read yet on the current line
    // The current line, as far as it lies outside a record.
    bool lineHasRecord = false;
    static constexpr int NONE = -1;
    int first = NONE;  // its first character that is not a blank
    enum class Comment { Digits, TrailingBlanks, Text } comment = Comment::Digits;
    int commentDigits = 0;
    char shown[16];  // its first characters, for the message
    size_t shownLength = 0;
};
}  // namespace

bool PicProgram::readHex(FILE* file) {
    return readHex(file, [](const char* message) { fputs(message, stderr); });
}

bool PicProgram::readHex(FILE* file, const ReadReport& report, const DroppedWord& dropped) {
    return readHex(file, IssueReport([&report](const ReadIssue& found) { report(found.message.c_str()); }), dropped);
}

bool PicProgram::readHex(FILE* file, const IssueReport& report, const DroppedWord& dropped) {
    HexScanner scanner(file, report);
    long base = 0;  // byte address added by extended address records
    Record r;
    Search search;
    while ((search = scanner.findRecord()) == Search::Record) {
        if (!scanner.readRecord(r)) return false;
        switch (r.type) {
        case RECORD_DATA: {
            // An odd byte count leaves its last byte out; an odd byte address
            // falls on the word below it.
            long image = (base + r.address) / 2;
            for (int i = 0; i + 1 < r.count; i += 2, ++image) {
                int word = r.data[i + 1] << 8 | r.data[i];
                if (image > INT_MAX || !setData(static_cast<int>(image), word)) {
                    say(report, issue(Kind::InvalidAddress, scanner.lineOfRecord(), image), "%sinvalid address %04lX\n",
                        READ_PREFIX, image);
                    if (dropped) dropped(image);
                }
            }
            break;
        }
        case RECORD_END:
            return true;
        case RECORD_EXTENDED_SEGMENT:
        case RECORD_EXTENDED_LINEAR:
            if (r.count != 2) {
                say(report, issue(Kind::ExtendedAddressSize, scanner.lineOfRecord(), r.count),
                    "%sthe extended address record on line %d holds %d bytes instead of 2\n", READ_PREFIX,
                    scanner.lineOfRecord(), r.count);
                return false;
            }
            base = static_cast<long>(r.data[0] << 8 | r.data[1]);
            base = r.type == RECORD_EXTENDED_LINEAR ? base << 16 : base * 16;
            break;
        case RECORD_START_SEGMENT:
        case RECORD_START_LINEAR:
            break;
        default:
            say(report, issue(Kind::UnknownRecordType, scanner.lineOfRecord(), r.type),
                "%sunknown record type %02X on line %d\n", READ_PREFIX, r.type, scanner.lineOfRecord());
            return false;
        }
    }
    if (search == Search::End && !reportReadError(file, report))
        say(report, issue(Kind::NoEndRecord, scanner.lastLine()), "%sunexpected end of file, no end record\n",
            READ_PREFIX);
    return false;
}

// ---------------------------------------------------------------- hex writer

bool PicProgram::writeHex(FILE* file) const {
    bool ok = fputs("; Flash ROM data\n", file) >= 0;
    ok = _writeHex(file, FLASH_START) && ok;
    ok = fputs("; Config data\n", file) >= 0 && ok;
    ok = _writeHex(file, CONFIG_START) && ok;
    ok = fputs("; EEPROM data\n", file) >= 0 && ok;
    ok = _writeHex(file, EEPROM_START) && ok;
    ok = fputs("; terminator\n:00000001FF\n", file) >= 0 && ok;
    ok = fflush(file) == 0 && ok;
    return ok && !ferror(file);
}

bool PicProgram::_writeHex(FILE* file, int start) const {
    // Records run on past 0x1FFF only in the configuration section; EEPROM
    // words go one to a record.
    const bool configSection = start >= CONFIG_START && start <= 0x2010;
    bool ok = true;
    int next = findData(start);
    while (next >= 0) {
        const int first = next;
        int words[8];
        int count = 0;
        for (;;) {
            const int previous = next;
            words[count++] = getData(next);
            next = findData(next + 1);
            bool sameRecord = next >= 0 && next == previous + 1 && count % 8 != 0 && next % 8 != 0 &&
                              (configSection || next <= FLASH_END);
            if (!sameRecord) break;
        }
        // Layout: ':' count(2) address(4) type 00, then low/high byte pairs, checksum.
        const int byteCount = 2 * count;
        const int byteAddress = 2 * first;
        unsigned sum = byteCount + (byteAddress & 0xFF) + ((byteAddress >> 8) & 0xFF);
        ok = fprintf(file, ":%02X%04X00", byteCount, byteAddress & 0xFFFF) >= 0 && ok;
        for (int i = 0; i < count; ++i) {
            const int low = words[i] & 0xFF;
            const int high = (words[i] & 0xFF00) >> 8;
            sum += low + high;
            ok = fprintf(file, "%02X%02X", low, high) >= 0 && ok;
        }
        ok = fprintf(file, "%02X\n", (0u - sum) & 0xFF) >= 0 && ok;

        const bool more = next >= 0 && (configSection || next <= FLASH_END ||
                                        (next >= EEPROM_START && next <= EEPROM_END));
        if (!more) break;
    }
    return ok;
}
