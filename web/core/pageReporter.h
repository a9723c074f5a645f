// The uploader's reporter on the page: each event goes to the page as it
// happens, with its finished text, so the page's log shows the lines the
// command line prints, and its progress bar the figures the terminal shows.
#ifndef PAGE_REPORTER_H
#define PAGE_REPORTER_H

#include "uploadReporter.h"

#include <chrono>

// Hands one event to the page (pageEvent.js).  lower and upper: the
// bootloader's range where the event gives one, lower > upper otherwise.
extern "C" void pageEvent(const char* kind, const char* text, int address, int block, int total,
                          const char* figures, int lower, int upper);

class PageReporter : public UploadReporter {
public:
    void show(const ReportEvent& event) override;

private:
    std::chrono::steady_clock::time_point begin_;
};

#endif
