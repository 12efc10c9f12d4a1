// The progress bar on stderr, fed by the plug-in's reports, and Ctrl-C, which
// asks the plug-in to stop through the same callback.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "spihost.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int PROGRESS_BAR_WIDTH = 32;

// Set by the Ctrl-C handler, read by the progress callback. A signal handler
// can reach nothing else, so this is the one mutable global.
volatile sig_atomic_t cancel_requested = 0;

int stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(fileno(stderr));
#endif
}

#ifdef _WIN32
BOOL WINAPI cancel_on_ctrl_c(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // A second Ctrl-C falls through to the default handler, which ends us.
    if (cancel_requested) return FALSE;
    cancel_requested = 1;
    return TRUE;
}
#else
void cancel_on_interrupt(int) { cancel_requested = 1; }
#endif

void progress_draw(const ProgressBar *bar, const char *ending) {
    char cells[PROGRESS_BAR_WIDTH + 1];
    int filled = (int)((int64_t)bar->permille * PROGRESS_BAR_WIDTH / 1000);
    for (int i = 0; i < PROGRESS_BAR_WIDTH; i++) cells[i] = i < filled ? '#' : '.';
    cells[PROGRESS_BAR_WIDTH] = 0;
    fprintf(stderr, "%s%-24s [%s] %3d%%%s", bar->terminal ? "\r" : "", bar->label.c_str(),
            cells, (int)(bar->permille / 10), ending);
    fflush(stderr);
}

}  // namespace

#ifdef _WIN32
void cancel_watch_start() { SetConsoleCtrlHandler(cancel_on_ctrl_c, TRUE); }
#else
void cancel_watch_start() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = cancel_on_interrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C gets the default action and ends us.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}
#endif

int cancel_was_requested() { return cancel_requested != 0; }

ProgressBar progress_start(const std::string &label) {
    ProgressBar bar;
    bar.label = label;
    bar.terminal = stderr_is_terminal();
    bar.permille = 0;
    bar.reports = 0;
    bar.drawn = 0;
    return bar;
}

// The bar never moves back: an archive plug-in reports (0, 32) once more
// after it has reached the end.
int32_t WINAPI progress_report(int32_t done, int32_t total, LONG_PTR user) {
    ProgressBar *bar = (ProgressBar *)user;
    bar->reports++;
    int moved = 0;
    if (total > 0 && done >= 0) {
        int32_t permille = done >= total ? 1000 : (int32_t)((int64_t)done * 1000 / total);
        if (permille > bar->permille) {
            moved = permille / 10 != bar->permille / 10;
            bar->permille = permille;
        }
    }
    if (bar->terminal && (moved || !bar->drawn)) {
        progress_draw(bar, "");
        bar->drawn = 1;
    }
    return cancel_requested ? 1 : 0;
}

void progress_finish(const ProgressBar *bar, int32_t code) {
    if (bar->reports == 0) return;
    progress_draw(bar, code == RESULT_CANCELLED ? " cancelled\n" : "\n");
}
