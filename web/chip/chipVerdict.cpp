#include "chipVerdict.h"

#include "uploadOracle.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

namespace {

// 5981 as "5,981": counts of words run into thousands.
std::string count(long n)
{
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(size_t(at), ",");
    return digits;
}

std::string hex4(int value)
{
    char text[8];
    snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

std::string word(int value)
{
    return value == PicProgram::BLANK ? "-" : hex4(value);
}

// What a differing word is: one the upload did not write, one the program
// leaves blank that the chip holds, or another value than the program's.
enum class Kind { NotWritten, Extra, Other };
Kind kindOf(const WordDifference& d)
{
    if (d.chip == PicProgram::BLANK)
        return Kind::NotWritten;
    return d.expected == PicProgram::BLANK ? Kind::Extra : Kind::Other;
}

// Neighbouring addresses that differ the same way.
struct Run {
    int first;
    int last;
    Kind kind;
    int chip;      // the first word's, for a run of one
    int expected;
};

std::vector<Run> runsOf(const std::vector<WordDifference>& differences)
{
    std::vector<Run> runs;
    for (const WordDifference& d : differences) {
        const Kind kind = kindOf(d);
        if (!runs.empty() && runs.back().last + 1 == d.address && runs.back().kind == kind)
            runs.back().last = d.address;
        else
            runs.push_back({d.address, d.address, kind, d.chip, d.expected});
    }
    return runs;
}

std::string runLine(const Run& run)
{
    if (run.first == run.last)
        return "  " + hex4(run.first) + ": chip " + word(run.chip) + ", expected " + word(run.expected);
    const std::string words = count(run.last - run.first + 1) + " words";
    std::string what;
    switch (run.kind) {
    case Kind::NotWritten: what = words + " not written"; break;
    case Kind::Extra: what = words + " set that the program leaves blank"; break;
    case Kind::Other: what = words + " that hold other values than the program's"; break;
    }
    return "  " + hex4(run.first) + "-" + hex4(run.last) + ": " + what;
}

}  // namespace

ChipVerdict verdictOnUpload(const PicProgram& chip, const PicProgram& program, const std::string& name,
                            protocol::Range range, bool ignoreOverlap)
{
    const protocol::Range w = protectedRange(range);
    const std::string outside = " outside " + hex4(w.lower) + "-" + hex4(w.upper);
    const std::vector<WordDifference> differences = programWordDifferences(chip, program, range, ignoreOverlap);
    if (differences.empty())
        return {true, "The simulated chip holds exactly " + name + outside + "."};

    // The program's words by the same rule: how an erased chip differs from it.
    const PicProgram erased(chip.getFlashSize(), chip.getEepromSize());
    const long programWords = long(programWordDifferences(erased, program, range, ignoreOverlap).size());
    long notWritten = 0;
    for (const WordDifference& d : differences)
        notWritten += kindOf(d) == Kind::NotWritten;

    std::string text;
    if (notWritten == long(differences.size()) && notWritten == programWords) {
        text = "The simulated chip holds nothing of " + name + outside + ": none of its " + count(programWords) +
               " words were written.";
    } else if (notWritten == long(differences.size())) {
        // A run that stopped: the blocks are sent in address order, so the
        // program arrived up to the sent block before the first that differs.
        const std::set<int> sent = blocksSent(program, range, ignoreOverlap);
        int arrived = -1;
        long blocks = 0;
        for (int start : sent) {
            if (start + protocol::BLOCK_WORDS > differences.front().address)
                break;
            arrived = start;
            ++blocks;
        }
        text = "The simulated chip holds " + name + outside;
        if (arrived >= 0)
            text += " up to block " + hex4(arrived) + "-" + hex4(arrived + protocol::BLOCK_WORDS - 1) + " (" +
                    count(blocks) + " of its " + count(long(sent.size())) + " blocks)";
        text += "; " + count(notWritten) + " of its " + count(programWords) + " words were not written:";
    } else {
        text = "The simulated chip differs from " + name + outside + " in " + count(long(differences.size())) +
               " words:";
    }

    const std::vector<Run> runs = runsOf(differences);
    const size_t shown = std::min(runs.size(), size_t(MAX_RUN_LINES));
    for (size_t i = 0; i < shown; ++i)
        text += "\n" + runLine(runs[i]);
    if (shown < runs.size()) {
        long rest = 0;
        for (size_t i = shown; i < runs.size(); ++i)
            rest += runs[i].last - runs[i].first + 1;
        const long more = long(runs.size() - shown);
        text += "\n  … and " + count(rest) + (rest == 1 ? " more word in " : " more words in ") + count(more) +
                (more == 1 ? " run" : " runs");
    }
    return {false, text};
}
