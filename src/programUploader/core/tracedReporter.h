// A reporter that keeps the trace in step with what the user reads: before
// each line of the reporter beneath, the trace tells what it still holds, so
// that in one log a reply comes before the message it caused.
#ifndef TRACED_REPORTER_H
#define TRACED_REPORTER_H

#include "traceLine.h"
#include "uploadReporter.h"

class TracedReporter : public UploadReporter {
public:
    // The summary is worded here and shown beneath: at the width beneath.
    TracedReporter(UploadReporter& reporter, TraceLine& trace) : reporter_(reporter), trace_(trace)
    {
        wrapSummaryAt(reporter.summaryWidth());
    }

    void show(const ReportEvent& event) override
    {
        trace_.flush();
        reporter_.show(event);
    }

private:
    UploadReporter& reporter_;
    TraceLine& trace_;
};

#endif
