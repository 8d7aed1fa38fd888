#include "process/stop.h"

#include <signal.h>

#include <initializer_list>

namespace process {

namespace {
volatile sig_atomic_t stop_asked = 0;
void on_stop(int signal) {
    if (!stop_asked) stop_asked = signal;
}
}  // namespace

int stop_signal() { return stop_asked; }

void catch_stop_signals() {
    struct sigaction a {};
    a.sa_handler = on_stop;
    sigemptyset(&a.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &a, nullptr);
}

}  // namespace process
