#include "stats.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace {

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p) {
    size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    if (rank < 1) rank = 1;
    return sorted[rank - 1];
}

double median(const std::vector<double>& sorted) {
    size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

}  // namespace

void Stats::print(FILE* out) const {
    std::vector<double> sorted = turnarounds;
    std::sort(sorted.begin(), sorted.end());
    double med = -1, p99 = -1, total = -1;
    if (!sorted.empty()) {
        med = median(sorted) * 1e6;
        p99 = percentile(sorted, 99) * 1e6;
        total = 0;
        for (double t : sorted) total += t;
    }
    fprintf(out, "frames: %" PRIu64 "\n", frames);
    fprintf(out, "blocks: %" PRIu64 "\n", blocks);
    fprintf(out, "errors: %" PRIu64 "\n", errors);
    fprintf(out, "bytes_in: %" PRIu64 "\n", bytesIn);
    fprintf(out, "bytes_out: %" PRIu64 "\n", bytesOut);
    fprintf(out, "session_s: %.6f\n", sessionSeconds);
    fprintf(out, "wire_s: %.6f\n", wireSeconds);
    fprintf(out, "write_s: %.6f\n", writeSeconds);
    fprintf(out, "greeting_to_h_ms: %.6f\n", greetingToH < 0 ? -1 : greetingToH * 1e3);
    fprintf(out, "greeting_to_frame_ms: %.6f\n", greetingToFrame < 0 ? -1 : greetingToFrame * 1e3);
    fprintf(out, "turnaround_median_us: %.6f\n", med);
    fprintf(out, "turnaround_p99_us: %.6f\n", p99);
    fprintf(out, "turnaround_total_s: %.6f\n", total);
    fflush(out);
}

void StatsRecorder::startSession() {
    greetingWritten_ = -1;
    readyWritten_ = -1;
}

void StatsRecorder::replyBegun() {
    if (stats_.greetingToH < 0) stats_.greetingToH = arrival_ - greetingWritten_;
}

void StatsRecorder::frameBegun() {
    if (readyWritten_ >= 0) {
        stats_.turnarounds.push_back(entry_ - readyWritten_);
        readyWritten_ = -1;
    }
    if (!firstFrameSeen_) {
        stats_.greetingToFrame = arrival_ - greetingWritten_;
        firstFrameSeen_ = true;
    }
}

void StatsRecorder::blockWritten(double seconds) {
    if (seconds > 0) stats_.writeSeconds += seconds;
    ++stats_.blocks;
}
