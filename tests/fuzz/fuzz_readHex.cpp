// Fuzz target for PicProgram::readHex.  Besides surviving any input without a
// sanitizer report, every input the reader accepts must write back with
// writeHex to text that reads into an image equal to the first, both ways.
#include "PicProgram.h"
#include "ownedHandles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct BufferFree {
    void operator()(char* p) const { std::free(p); }
};

// Report the broken property and stop; libFuzzer saves the input.
[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_readHex: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // fmemopen refuses a zero-sized buffer on some C libraries; an empty
    // temporary file stands in for the empty input.
    OwnedFile in(size ? fmemopen(const_cast<uint8_t*>(data), size, "r") : std::tmpfile());
    if (!in) return 0;

    // Both images live on the heap: three stores of 8456 ints each would
    // make a large stack frame under the sanitizers.
    // Most inputs are refused; their messages would bury the fuzzer's log.
    auto first = std::make_unique<PicProgram>();
    if (!first->readHex(in.get(), [](const char*) {})) return 0;

    char* raw = nullptr;
    size_t rawSize = 0;
    {
        OwnedFile out(open_memstream(&raw, &rawSize));
        if (!out) fail("open_memstream failed");
        if (!first->writeHex(out.get())) fail("writeHex refused a memory stream");
    }
    std::unique_ptr<char, BufferFree> text(raw);

    auto second = std::make_unique<PicProgram>();
    {
        OwnedFile back(fmemopen(text.get(), rawSize, "r"));
        if (!back) fail("fmemopen of the written text failed");
        if (!second->readHex(back.get())) fail("readHex refused writeHex output");
    }
    if (!first->equals(second.get())) fail("image read back differs (first.equals(second))");
    if (!second->equals(first.get())) fail("image read back differs (second.equals(first))");
    return 0;
}
