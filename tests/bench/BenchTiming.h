// How the benchmarks time ours against a reference in one run: each side
// runs several times, turn about, and keeps its best wall-clock and its best
// processor time (the machine is shared: the wall clock also counts the waits
// for a processor, the processor time does not). A reference program's
// processor time is its own and its children's, from wait4.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace bench_timing {

struct Timing {
    double wall = std::numeric_limits<double>::infinity();
    double cpu = std::numeric_limits<double>::infinity();

    void keep_best(double w, double c)
    {
        if (w < wall)
            wall = w;
        if (c < cpu)
            cpu = c;
    }
    bool measured() const { return wall < std::numeric_limits<double>::infinity(); }
};

// Runs of each side: QL_BENCH_RUNS, else `fallback`.
inline int bench_runs(int fallback)
{
    const char* v = getenv("QL_BENCH_RUNS");
    const int n = v ? atoi(v) : 0;
    return n > 0 ? n : fallback;
}

inline double clock_seconds(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Runs `work` once and keeps its times (this process's processor time).
template <class Work>
bool time_in_process(Timing* timing, Work work)
{
    const double w0 = clock_seconds(CLOCK_MONOTONIC), c0 = clock_seconds(CLOCK_PROCESS_CPUTIME_ID);
    const bool ok = work();
    const double c1 = clock_seconds(CLOCK_PROCESS_CPUTIME_ID), w1 = clock_seconds(CLOCK_MONOTONIC);
    if (ok)
        timing->keep_best(w1 - w0, c1 - c0);
    return ok;
}

// Runs a program (its output to /dev/null, in `folder` when given) and
// keeps its times; true when it exits with 0.
inline bool time_program(Timing* timing, const std::vector<std::string>& args, const char* folder = nullptr)
{
    const double w0 = clock_seconds(CLOCK_MONOTONIC);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (folder && chdir(folder) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid)
        return false;
    const double w1 = clock_seconds(CLOCK_MONOTONIC);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ok)
        timing->keep_best(w1 - w0, cpu);
    return ok;
}

// A reference program's times less its start-up (its times on a tiny input
// of the same kind), never below a microsecond.
inline Timing less_start_up(const Timing& whole, const Timing& start_up)
{
    Timing t;
    t.wall = whole.wall - start_up.wall > 1e-6 ? whole.wall - start_up.wall : 1e-6;
    t.cpu = whole.cpu - start_up.cpu > 1e-6 ? whole.cpu - start_up.cpu : 1e-6;
    return t;
}

inline void print_header(const char* what, const char* reference)
{
    printf("%s: MB/s of ours and of %s, and the ratio ours / reference\n", what, reference);
    printf("  %-22s %10s %10s %7s   %10s %10s %7s\n", "", "cpu ours", "cpu ref", "ratio", "wall ours", "wall ref",
           "ratio");
}

// One row: `bytes` over each side's best times.
inline void print_row(const std::string& name, double bytes, const Timing& ours, const Timing& reference,
                      const char* note = "")
{
    if (!ours.measured() || !reference.measured()) {
        printf("  %-22s not measured\n", name.c_str());
        return;
    }
    const double oc = bytes / ours.cpu / 1e6, rc = bytes / reference.cpu / 1e6;
    const double ow = bytes / ours.wall / 1e6, rw = bytes / reference.wall / 1e6;
    printf("  %-22s %10.1f %10.1f %6.2fx   %10.1f %10.1f %6.2fx   %s\n", name.c_str(), oc, rc, oc / rc, ow, rw,
           ow / rw, note);
    fflush(stdout);
}

}  // namespace bench_timing
