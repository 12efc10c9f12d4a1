#include "win_clock.h"

#include <inttypes.h>
#include <stdio.h>

#include <windows.h>

double clock_seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

void print_clocked(const char *name, const Clocked *c, double units, const char *unit) {
    double t = c->fastest;
    const char *scale = "s ";
    double shown = t;
    if (t < 1e-3) {
        scale = "us";
        shown = t * 1e6;
    } else if (t < 1) {
        scale = "ms";
        shown = t * 1e3;
    }
    printf("%-40s %10.3f %s %9.1f %s/s  (%" PRId64 " calls a batch)\n", name, shown, scale, units / t, unit,
           c->calls);
}
