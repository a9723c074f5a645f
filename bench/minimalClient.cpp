// minimalClient: the least an uploader can do on the line, as the floor that
// the benchmark compares programUploader with.  It greets the bootloader,
// then sends the very frames programUploader sends for the same hex file, in
// the same order, each in one write as soon as the previous '>' has arrived.
// Everything is worked out before the first frame goes out, and nothing is
// printed on the way.
//
//   minimalClient -s SPEED -p PORT FILE.hex
//
// Exit 0 when every frame was acknowledged without an error report, 1 when
// the bootloader reported errors or fell silent, 2 on bad use.
#include "PicProgram.h"
#include "ownedHandles.h"
#include "passWalk.h"
#include "lineSpeeds.h"
#include "protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <fcntl.h>
#include <vector>

namespace {

using namespace protocol;

constexpr int IDENTIFICATION_LENGTH = 5;  // lower word, upper word, '>'
constexpr int ERROR_REPORT_TAIL = 3;      // error byte, address word
constexpr int WRITE_TEST_TAIL = 4;        // address word, data word

constexpr int GREETING_WINDOW_S = 30;
constexpr int RESPONSE_WINDOW_MS = 5000;

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

using Frame = std::vector<unsigned char>;

void addWord(Frame& frame, int value)
{
    uint8_t bytes[2];
    putWord(value, bytes);
    frame.insert(frame.end(), bytes, bytes + 2);
}

void addChecksum(Frame& frame)
{
    frame.push_back(checksum(frame.data(), static_cast<int>(frame.size())));
}

// The frames of one programming pass, in the order programUploader's pass
// sends them: the uploader's own walk, so the two clients send the same
// frames by construction.
void addPass(PicProgram& image, int start, int lower, int upper, std::vector<Frame>& frames)
{
    int address = start;
    PassWalk walk(image, address, lower, upper);
    while (walk.next()) {
        if (walk.setAddressFirst()) {
            Frame setAddress{SET_ADDRESS};  // code, target low, target high, checksum
            addWord(setAddress, wireAddress(address));
            addChecksum(setAddress);
            frames.push_back(setAddress);
        }
        const int mask = walk.eeprom() ? EEPROM_MASK : PROGRAM_MASK;
        Frame block{walk.eeprom() ? WRITE_EEPROM_BLOCK : WRITE_PROGRAM_BLOCK};  // code, four words, checksum
        for (int n = 0; n < BLOCK_WORDS; ++n)
            addWord(block, image.getData(address + n) & mask);
        addChecksum(block);
        frames.push_back(block);
    }
}

int openLine(const char* port, speed_t speed)
{
    int fd = open(port, O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Up to size bytes that arrive within timeoutNs; 0 when none, -1 when the
// line has gone.
int readWithin(int fd, unsigned char* buffer, int size, long timeoutNs)
{
    pollfd p{fd, POLLIN, 0};
    timespec ts{timeoutNs / 1000000000L, timeoutNs % 1000000000L};
    int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if (!(p.revents & POLLIN))
        return -1;
    ssize_t n = read(fd, buffer, size);
    return n > 0 ? static_cast<int>(n) : -1;
}

bool writeAll(int fd, const unsigned char* bytes, size_t count)
{
    while (count > 0) {
        ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Polls once per character time until a whole greeting is in, answers "hi"
// and reads the identification.  Bytes are taken as they come, so a greeting
// that arrives byte by byte is answered right after its last byte.
bool greet(int fd, long characterNs, int& lower, int& upper)
{
    const time_t start = time(nullptr);
    std::vector<unsigned char> seen;
    while (time(nullptr) - start < GREETING_WINDOW_S) {
        size_t mark = 0;
        while (mark < seen.size() && seen[mark] != GREETING_MARK)
            ++mark;
        seen.erase(seen.begin(), seen.begin() + static_cast<long>(mark));
        if (seen.size() >= GREETING_LENGTH && seen[1] == GREETING_MARK)
            break;
        if (seen.size() >= 2 && seen[1] != GREETING_MARK) {
            seen.erase(seen.begin());
            continue;
        }
        // Once a greeting has begun no further poll is needed.
        if (seen.empty() && !writeAll(fd, &POLL, 1))
            return false;
        unsigned char buffer[64];
        int n = readWithin(fd, buffer, sizeof buffer, characterNs);
        if (n < 0)
            return false;
        seen.insert(seen.end(), buffer, buffer + n);
    }
    if (seen.size() < GREETING_LENGTH)
        return false;

    static const unsigned char reply[] = {'h', 'i'};
    if (!writeAll(fd, reply, sizeof reply))
        return false;
    unsigned char ident[IDENTIFICATION_LENGTH];
    int got = 0;
    while (got < IDENTIFICATION_LENGTH) {
        int n = readWithin(fd, ident + got, IDENTIFICATION_LENGTH - got, RESPONSE_WINDOW_MS * 1000000L);
        if (n <= 0)
            return false;
        got += n;
    }
    lower = ident[0] | (ident[1] << 8);
    upper = ident[2] | (ident[3] << 8);
    return ident[4] == READY;
}

// Reads one response up to its '>'; false on an error report or silence.
bool awaitReady(int fd)
{
    bool clean = true;
    int skip = 0;
    for (;;) {
        unsigned char buffer[64];
        int n = readWithin(fd, buffer, sizeof buffer, RESPONSE_WINDOW_MS * 1000000L);
        if (n <= 0)
            return false;
        for (int i = 0; i < n; ++i) {
            if (skip > 0) {
                --skip;
                continue;
            }
            if (buffer[i] == READY)
                return clean;
            if (buffer[i] == ERROR_REPORT) {
                clean = false;
                skip = ERROR_REPORT_TAIL;
            } else if (buffer[i] == WRITE_TEST) {
                skip = WRITE_TEST_TAIL;
            } else {
                clean = false;
            }
        }
    }
}

void usage()
{
    fputs("usage: minimalClient -s SPEED -p PORT FILE.hex\n", stderr);
}

} // namespace

int main(int argc, char** argv)
{
    const char* port = nullptr;
    const char* file = nullptr;
    const Speed* rate = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-p") && i + 1 < argc) {
            port = argv[++i];
        } else if (!strcmp(argv[i], "-s") && i + 1 < argc) {
            long bps = strtol(argv[++i], nullptr, 10);
            for (const Speed& r : UPLOAD_SPEEDS)
                if (r.bitsPerSecond == bps)
                    rate = &r;
        } else {
            file = argv[i];
        }
    }
    if (!port || !file || !rate) {
        usage();
        return EXIT_USAGE;
    }

    PicProgram image;
    {
        OwnedFile hex(fopen(file, "r"));
        if (!hex || !image.readHex(hex.get())) {
            fprintf(stderr, "minimalClient: cannot read %s\n", file);
            return EXIT_USAGE;
        }
    }

    OwnedFd line(openLine(port, rate->constant));
    if (line.get() < 0) {
        fprintf(stderr, "minimalClient: cannot open %s\n", port);
        return EXIT_USAGE;
    }

    const long characterNs = 10L * 1000000000L / rate->bitsPerSecond;
    int lower = 0, upper = 0;
    if (!greet(line.get(), characterNs, lower, upper)) {
        fprintf(stderr, "minimalClient: no greeting\n");
        return EXIT_FAILED;
    }
    const Range range = widen(Range{lower, upper});
    lower = range.lower;
    upper = range.upper;

    std::vector<Frame> frames;
    addPass(image, 0, lower, upper, frames);
    addPass(image, EEPROM_BASE, lower, upper, frames);

    int status = EXIT_OK;
    for (const Frame& frame : frames) {
        if (!writeAll(line.get(), frame.data(), frame.size()) || !awaitReady(line.get())) {
            status = EXIT_FAILED;
            break;
        }
    }
    const unsigned char end[] = {END_PROGRAMMING, 0xFF};  // code, checksum
    writeAll(line.get(), end, sizeof end);
    // Let the end command leave before the port closes.
    tcdrain(line.get());
    if (status != EXIT_OK)
        fprintf(stderr, "minimalClient: upload failed\n");
    return status;
}
