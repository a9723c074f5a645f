// A serial line whose far end plays a script, on a virtual clock: a wait for
// bytes that have not yet "arrived" moves the clock to their arrival, a wait
// with nothing coming moves it to the wait's deadline, so a run never
// sleeps.  The fuzz target plays its input on it; the link's table tests
// play their bootloaders.
//
// The script is a list of chunks.  A chunk arrives `delay` after the
// previous chunk was read to its end, or, when afterWrite is set, `delay`
// after the uploader's next write (an answer to a poll or a frame).
#ifndef SCRIPTED_LINE_H
#define SCRIPTED_LINE_H

#include "serialLine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace scripted {

using Bytes = std::vector<uint8_t>;

struct Chunk {
    bool afterWrite;
    std::chrono::microseconds delay;
    Bytes bytes;
};

// An answer to the uploader's next write.
inline Chunk reply(const std::string& bytes, std::chrono::microseconds delay = {})
{
    return Chunk{true, delay, Bytes(bytes.begin(), bytes.end())};
}
// Bytes that arrive delay after the chunk before was read.
inline Chunk later(const std::string& bytes, std::chrono::microseconds delay)
{
    return Chunk{false, delay, Bytes(bytes.begin(), bytes.end())};
}

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "scripted line: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

class ScriptedLine : public SerialLine {
public:
    // hangUpAtEnd: the line hangs up once the script is spent.  A run that
    // takes more than operationLimit line operations is a hang.
    explicit ScriptedLine(std::vector<Chunk> chunks, bool hangUpAtEnd = false, long operationLimit = 1000000)
        : chunks_(std::move(chunks)), hangUpAtEnd_(hangUpAtEnd), limit_(operationLimit)
    {
        now_ = start();
        enterChunk();
    }

    static Deadline start() { return Deadline(std::chrono::hours(1)); }
    Deadline now() const override { return now_; }

    LineResult waitReadable(Deadline deadline) override
    {
        count();
        if (hungUp())
            return LineResult::HungUp;
        if (arrived())
            return LineResult::Ok;
        if (current_ >= chunks_.size() && hangUpAtEnd_)
            return note(LineResult::HungUp);
        if (current_ < chunks_.size() && armed_ && arrival_ <= deadline) {
            now_ = std::max(now_, arrival_);
            return LineResult::Ok;
        }
        if (deadline == NO_DEADLINE)
            fail("a wait without a deadline on a line with nothing coming");
        now_ = std::max(now_, deadline);
        return LineResult::Timeout;
    }

    LineResult readAvailable(uint8_t* buffer, int size, int& got) override
    {
        count();
        got = 0;
        if (hungUp())
            return LineResult::HungUp;
        while (got < size && arrived()) {
            const Bytes& bytes = chunks_[current_].bytes;
            int take = std::min<int>(size - got, static_cast<int>(bytes.size() - position_));
            std::copy_n(bytes.begin() + static_cast<long>(position_), take, buffer + got);
            got += take;
            position_ += static_cast<size_t>(take);
            if (position_ == bytes.size()) {
                ++current_;
                enterChunk();
            }
        }
        if (got > 0)
            readsAfter().insert(readsAfter().end(), buffer, buffer + got);
        return LineResult::Ok;
    }

    // Nothing goes out on a line that has hung up.
    LineResult writeAll(const uint8_t* data, int size, Deadline /*deadline*/) override
    {
        count();
        if (hungUp())
            return LineResult::HungUp;
        if (current_ < chunks_.size() && !armed_) {
            armed_ = true;
            arrival_ = now_ + chunks_[current_].delay;
        }
        for (int i = 0; i < size; ++i) {
            written.push_back(data[i]);
            read.emplace_back();
            after.push_back(Cursor{current_, position_, armed_, arrival_, now_});
        }
        return LineResult::Ok;
    }

    void discardOutput() override { count(); }
    std::chrono::microseconds characterTime() const override { return std::chrono::microseconds(520); }  // 19200 bit/s

    // Every byte the uploader wrote, and what it read after each byte before
    // writing the next (readFirst: before its first write).
    Bytes written;
    std::vector<Bytes> read;
    Bytes readFirst;
    long operations = 0;

    // Where the far end stood in its script: `at` is the time, the rest
    // what it sends next and when.
    struct Cursor {
        size_t chunk, position;
        bool armed;
        Deadline arrival, at;
    };
    // The far end as each written byte left it.
    std::vector<Cursor> after;

    // Moves the cursor past the next byte the far end sends, taken the
    // moment it arrives with nothing more written; false when none comes.
    bool next(Cursor& c, uint8_t& byte) const
    {
        if (c.chunk >= chunks_.size() || !c.armed)
            return false;
        c.at = std::max(c.at, c.arrival);
        const Bytes& bytes = chunks_[c.chunk].bytes;
        byte = bytes[c.position++];
        if (c.position == bytes.size()) {
            ++c.chunk;
            c.position = 0;
            if (c.chunk < chunks_.size()) {
                c.armed = !chunks_[c.chunk].afterWrite;
                c.arrival = c.at + chunks_[c.chunk].delay;
            }
        }
        return true;
    }

private:
    void count()
    {
        if (++operations > limit_)
            fail("the run did not end within its bound of line operations");
    }
    bool arrived() const { return current_ < chunks_.size() && armed_ && arrival_ <= now_; }
    void enterChunk()
    {
        position_ = 0;
        if (current_ >= chunks_.size())
            return;
        armed_ = !chunks_[current_].afterWrite;
        arrival_ = now_ + chunks_[current_].delay;
    }
    Bytes& readsAfter() { return read.empty() ? readFirst : read.back(); }

    std::vector<Chunk> chunks_;
    bool hangUpAtEnd_;
    long limit_;
    Deadline now_;
    size_t current_ = 0;
    size_t position_ = 0;
    bool armed_ = false;
    Deadline arrival_;
};

}  // namespace scripted

#endif
