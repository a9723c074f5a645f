// The simulated chip as its Web Worker calls it.  Its content and its
// verdict on an upload come from the same code as bootloaderSim's dump and
// chipCheck.
#include "chipVerdict.h"
#include "json.h"
#include "pacedChip.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

PacedChip simulated;
std::vector<uint8_t> taken;
std::string answer;

const char* give(std::string text)
{
    answer = std::move(text);
    return answer.c_str();
}

std::string hexText(PicProgram& image)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    if (!out)
        return {};
    image.writeHex(out);
    fclose(out);
    std::string copy(text, size);
    free(text);
    return copy;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* chipFacts()
{
    const BootloaderSettings& s = simulated.settings();
    return give(json::Object()
                    .num("lower", s.range.lower)
                    .num("upper", s.range.upper)
                    .num("programWriteMs", long(s.programWriteMs))
                    .num("eepromWriteMs", long(s.eepromWriteMs))
                    .done());
}

EMSCRIPTEN_KEEPALIVE void chipReset(int bitsPerSecond, int erase)
{
    simulated.reset(bitsPerSecond, erase != 0);
}

EMSCRIPTEN_KEEPALIVE void chipFeed(const uint8_t* bytes, int count, double nowSeconds)
{
    simulated.feed(bytes, count, nowSeconds);
}

EMSCRIPTEN_KEEPALIVE double chipNextDue()
{
    return simulated.nextDue();
}

// The next reply: its bytes at chipTakenBytes(), its length answered.
EMSCRIPTEN_KEEPALIVE int chipTake()
{
    taken = simulated.take();
    return int(taken.size());
}
EMSCRIPTEN_KEEPALIVE const uint8_t* chipTakenBytes()
{
    return taken.data();
}

// The chip's memory as Intel HEX, as bootloaderSim --dump writes it.
EMSCRIPTEN_KEEPALIVE const char* chipHex()
{
    return give(hexText(simulated.chip().memory()));
}

// Whether the chip holds exactly the program outside the bootloader's
// range, by chipCheck's rule, and where not, how far it arrived.
EMSCRIPTEN_KEEPALIVE const char* chipVerdict(const char* name, const char* text, int length, int ignoreOverlap)
{
    PicProgram program;
    bool read = false;
    if (FILE* in = fmemopen(const_cast<char*>(text), size_t(length), "r")) {
        read = program.readHex(in, [](const char*) {});
        fclose(in);
    }
    if (!read)
        return give(json::Object().flag("exact", false).str("text", std::string("Cannot read ") + name).done());
    const ChipVerdict verdict =
        verdictOnUpload(simulated.chip().memory(), program, name, simulated.settings().range, ignoreOverlap != 0);
    return give(json::Object().flag("exact", verdict.exact).str("text", verdict.text).done());
}

}  // extern "C"
