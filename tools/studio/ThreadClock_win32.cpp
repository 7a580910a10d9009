#include "ThreadClock.h"

#include <windows.h>

#include <intrin.h>

namespace zyr::studio {

namespace {

// The thread's cycle count advances at the rate of the processor's
// time-stamp counter, which is measured once against the performance
// counter over a short sleep.
double cyclesPerSecond() {
    static const double rate = [] {
        LARGE_INTEGER frequency{}, start{}, end{};
        if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&start)) return 0.0;
        const unsigned long long first = __rdtsc();
        Sleep(20);
        const unsigned long long last = __rdtsc();
        if (!QueryPerformanceCounter(&end) || end.QuadPart <= start.QuadPart) return 0.0;
        const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        return static_cast<double>(last - first) / seconds;
    }();
    return rate;
}

// Whether the system counts the thread's cycles at all (some systems and
// emulation layers do not).
bool cyclesCounted() {
    static const bool counted = [] {
        ULONG64 cycles = 0;
        return QueryThreadCycleTime(GetCurrentThread(), &cycles) && cycles != 0 && cyclesPerSecond() > 0.0;
    }();
    return counted;
}

}  // namespace

double threadCpuSeconds() {
    // Exact to the cycle where counted; otherwise the kernel's and user time,
    // which advance a scheduler tick (some 16 ms) at a time.
    if (cyclesCounted()) {
        ULONG64 cycles = 0;
        if (QueryThreadCycleTime(GetCurrentThread(), &cycles)) return static_cast<double>(cycles) / cyclesPerSecond();
        return 0.0;
    }
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns ticks
}

}  // namespace zyr::studio
