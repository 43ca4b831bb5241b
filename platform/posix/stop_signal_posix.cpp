#include <pthread.h>
#include <signal.h>

#include "platform/stop_signal.h"

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void PrepareStopSignal() {
    // Blocked in every thread started later, so only sigwait below ever sees them.
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal() {
    const sigset_t set = StopSignals();
    int signal = 0;
    sigwait(&set, &signal);
    return signal == SIGINT ? kStopExitInterrupt : kStopExitTerminate;
}
