// The clock of the benchmarks that run as Windows programs (under Wine here),
// where Google Benchmark is not at hand. A body runs in batches of at least
// CLOCK_MIN_BATCH_SECONDS; the bodies compared with each other take turns,
// batch by batch, so that a disturbance from other work on the machine falls
// on all of them alike. Each keeps its fastest time, the least disturbed: of
// a single call when every body's call is long enough for the clock to time
// it alone, otherwise of a whole batch, the same for all bodies of a race.
#pragma once

#include <stdint.h>

// One timed body: calls per batch, whether each call is timed alone, the
// fastest seconds per call so far and how many calls were timed.
struct Clocked {
    int64_t calls;
    int32_t alone;
    double fastest;
    int64_t timed;
};

constexpr double CLOCK_MIN_BATCH_SECONDS = 0.25;
constexpr int CLOCK_ROUNDS = 10;
// Calls at least this long are timed alone: reading the clock costs well
// under a thousandth of that.
constexpr double CLOCK_MIN_ALONE_SECONDS = 1e-4;

// Seconds since some fixed moment, from the performance counter.
double clock_seconds(void);

// Keeps the compiler from dropping the work that produced `p`.
inline void clock_keep(const void *p) { asm volatile("" : : "r"(p) : "memory"); }

// Seconds per call: the fastest single call when `alone`, else the batch's mean.
template <typename Body>
double clock_batch(int64_t calls, int32_t alone, Body &body) {
    double start = clock_seconds(), last = start, fastest = 0;
    for (int64_t i = 0; i < calls; ++i) {
        body();
        if (alone) {
            double now = clock_seconds();
            if (i == 0 || now - last < fastest) fastest = now - last;
            last = now;
        }
    }
    return alone ? fastest : (clock_seconds() - start) / (double)calls;
}

// After one call that warms caches and the allocator, grows the batch until
// it lasts CLOCK_MIN_BATCH_SECONDS; that batch is the body's first.
template <typename Body>
Clocked clock_calibrate(Body &body) {
    body();
    Clocked c = {1, 0, 0, 0};
    for (;;) {
        c.fastest = clock_batch(c.calls, 0, body);
        c.timed += c.calls;
        double took = c.fastest * (double)c.calls;
        if (took >= CLOCK_MIN_BATCH_SECONDS) break;
        // Aim a little past the minimum, growing at most tenfold per step.
        double grow = took > 0 ? CLOCK_MIN_BATCH_SECONDS * 1.2 / took : 10;
        c.calls = (int64_t)((double)c.calls * (grow < 10 ? grow : 10)) + 1;
    }
    return c;
}

template <typename Body>
void clock_round(Clocked *c, Body &body) {
    // Calls timed alone fill the batch by the fastest call yet, so that one
    // disturbed calibration does not leave the body with few calls.
    if (c->alone) c->calls = (int64_t)(CLOCK_MIN_BATCH_SECONDS / c->fastest) + 1;
    double t = clock_batch(c->calls, c->alone, body);
    c->timed += c->calls;
    if (t < c->fastest) c->fastest = t;
}

// Times each body CLOCK_ROUNDS batches, the bodies taking turns; out[i]
// receives the i-th body's fastest time.
template <typename... Bodies>
void clock_race(Clocked *out, Bodies &...bodies) {
    int i = 0;
    ((out[i++] = clock_calibrate(bodies)), ...);
    int32_t alone = 1;
    for (int k = 0; k < i; ++k) alone = alone && out[k].fastest >= CLOCK_MIN_ALONE_SECONDS;
    for (int k = 0; k < i; ++k) out[k].alone = alone;
    for (int round = 1; round < CLOCK_ROUNDS; ++round) {
        i = 0;
        (clock_round(&out[i++], bodies), ...);
    }
}

// One table line: the body's name, its time per call and its throughput in
// `units` (the amount one call processes) per second.
void print_clocked(const char *name, const Clocked *c, double units, const char *unit);
