#include "readSentence.h"

#include "textFormat.h"

namespace {

using Kind = PicProgram::ReadIssue::Kind;

std::string character(long c)
{
    return c >= 0x20 && c < 0x7F ? formatText("'%c'", int(c)) : formatText("the byte 0x%02lX", c);
}

// What is wrong, as a newcomer reads it, after "NAME, line N: ".
std::string whatIsWrong(const PicProgram::ReadIssue& issue)
{
    switch (issue.kind) {
    case Kind::ReadError:
        return "the file cannot be read (" + issue.detail + ").";
    case Kind::EndInRecord:
        return "the file ends in the middle of this record; it was probably cut short.";
    case Kind::NoEndRecord:
        return "the file ends here without the end record (:00000001FF); it was probably cut short.";
    case Kind::BadChecksum:
        return formatText("this record's checksum reads %02lX where its bytes need %02lX; the line was changed or "
                          "damaged.", issue.value, issue.expected);
    case Kind::RecordCutShort:
        return "this record ends before its checksum; part of the line is missing.";
    case Kind::InvalidCharacter:
        return "this record holds " + character(issue.value) + ", which is not a hexadecimal digit.";
    case Kind::NoRecord:
        return issue.detail.compare(0, 1, ";") == 0
                   ? "this line holds no Intel HEX record (it starts with ';' where a record starts with ':')."
                   : "this line holds no Intel HEX record (it does not start with ':').";
    case Kind::InvalidAddress:
        return formatText("the word for address %04lX has no place in the chip's memory, and is left out.",
                          issue.value);
    case Kind::ExtendedAddressSize:
        return formatText("this extended address record holds %ld bytes where it needs 2.", issue.value);
    case Kind::UnknownRecordType:
        return formatText("record type %02lX is none of Intel HEX's (00 to 05); this may not be a hex file.",
                          issue.value);
    }
    return issue.message;
}

}  // namespace

std::string readSentence(const std::string& fileName, const std::vector<PicProgram::ReadIssue>& issues)
{
    if (issues.empty())
        return "";
    // A refused file ends on why; words left out come before it, and the
    // first of them speaks for the rest.
    const PicProgram::ReadIssue& last = issues.back();
    const PicProgram::ReadIssue& said = last.kind == Kind::InvalidAddress ? issues.front() : last;
    std::string sentence = fileName;
    if (said.line > 0)
        sentence += formatText(", line %d", said.line);
    sentence += ": " + whatIsWrong(said);
    if (said.kind == Kind::InvalidAddress && issues.size() > 1)
        sentence += formatText(" So are %d more words after it.", int(issues.size()) - 1);
    return sentence;
}
