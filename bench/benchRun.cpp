// benchRun: runs one command and reports what it cost.
//
//   benchRun REPORT.txt COMMAND [ARGS...]
//
// Writes to REPORT.txt, one `name: value` a line: exit, wall_s, user_s,
// sys_s, max_rss_kib (the command's peak resident memory) and
// self_rss_kib.  Linux carries a process's peak RSS across fork and exec, so
// the command's figure can never read below what this process held when it
// forked; that is why this runner is small and linked statically, and why it
// reports its own figure next to the command's.  Exits with the command's
// exit value (127 when it could not be started).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int EXIT_NOT_STARTED = 127;

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double seconds(const timeval& tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) * 1e-6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fputs("usage: benchRun REPORT.txt COMMAND [ARGS...]\n", stderr);
        return EXIT_NOT_STARTED;
    }
    FILE* report = fopen(argv[1], "w");
    if (!report) {
        fprintf(stderr, "benchRun: cannot write %s: %s\n", argv[1], strerror(errno));
        return EXIT_NOT_STARTED;
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);

    const double start = now();
    pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "benchRun: fork: %s\n", strerror(errno));
        return EXIT_NOT_STARTED;
    }
    if (child == 0) {
        execv(argv[2], argv + 2);
        fprintf(stderr, "benchRun: cannot run %s: %s\n", argv[2], strerror(errno));
        _exit(EXIT_NOT_STARTED);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const double wall = now() - start;

    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    fprintf(report, "exit: %d\nwall_s: %.6f\nuser_s: %.6f\nsys_s: %.6f\nmax_rss_kib: %ld\nself_rss_kib: %ld\n", code,
            wall, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, self.ru_maxrss);
    fclose(report);
    return code;
}
