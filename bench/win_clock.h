// The clock of the benchmarks that run as Windows programs (under Wine here),
// where Google Benchmark is not at hand. A body runs in batches long enough
// for the clock to resolve; the bodies compared with each other take turns,
// batch by batch, so that a disturbance from other work on the machine falls
// on all of them alike; each keeps its fastest batch, the least disturbed.
#pragma once

#include <stdint.h>

// One timed body: calls per batch, fixed once calibrated, and the seconds
// per call of its fastest batch so far.
struct Clocked {
    int64_t calls;
    double fastest;
};

constexpr double CLOCK_MIN_BATCH_SECONDS = 0.25;
constexpr int CLOCK_ROUNDS = 5;

// Seconds since some fixed moment, from the performance counter.
double clock_seconds(void);

// Keeps the compiler from dropping the work that produced `p`.
inline void clock_keep(const void *p) { asm volatile("" : : "r"(p) : "memory"); }

template <typename Body>
double clock_batch(int64_t calls, Body &body) {
    double start = clock_seconds();
    for (int64_t i = 0; i < calls; ++i) body();
    return (clock_seconds() - start) / (double)calls;
}

// Grows the batch until it lasts CLOCK_MIN_BATCH_SECONDS; that batch is the
// body's first.
template <typename Body>
Clocked clock_calibrate(Body &body) {
    Clocked c = {1, 0};
    for (;;) {
        c.fastest = clock_batch(c.calls, body);
        double took = c.fastest * (double)c.calls;
        if (took >= CLOCK_MIN_BATCH_SECONDS) return c;
        // Aim a little past the minimum, growing at most tenfold per step.
        double grow = took > 0 ? CLOCK_MIN_BATCH_SECONDS * 1.2 / took : 10;
        c.calls = (int64_t)((double)c.calls * (grow < 10 ? grow : 10)) + 1;
    }
}

template <typename Body>
void clock_round(Clocked *c, Body &body) {
    double t = clock_batch(c->calls, body);
    if (t < c->fastest) c->fastest = t;
}

// Times each body CLOCK_ROUNDS batches, the bodies taking turns; out[i]
// receives the fastest batch of the i-th body.
template <typename... Bodies>
void clock_race(Clocked *out, Bodies &...bodies) {
    int i = 0;
    ((out[i++] = clock_calibrate(bodies)), ...);
    for (int round = 1; round < CLOCK_ROUNDS; ++round) {
        i = 0;
        (clock_round(&out[i++], bodies), ...);
    }
}

// One table line: the body's name, its time per call and its throughput in
// `units` (the amount one call processes) per second.
void print_clocked(const char *name, const Clocked *c, double units, const char *unit);
