#pragma once

#include "mbox/stop_request.h"

namespace drovanta {

// For a front-end's process (the command line, the window): turns SIGINT, SIGTERM and SIGHUP
// into stop requests of the run (the first lets the record being written be completed, a second
// abandons it), and ignores SIGXFSZ so that a write past the file size limit fails as EFBIG and
// is cut back like one to a full disk. A signal that is ignored when this is called (under
// nohup, or in a background job) stays ignored. The handlers do not restart interrupted calls,
// so that a wait for a mailbox lock sees the request. Call it once, before anything that takes
// a while (the folder walk), so that no signal finds the process without them.
void InstallStopSignals(StopRequest& request);

// Gives the signals InstallStopSignals took back their default action (one ignored on entry
// stays ignored), for a front-end that turns out to run nothing (a usage error, --help, a dry
// run). A request the handlers took meanwhile then ends the process as the signal would have.
void ReleaseStopSignals(const StopRequest& request);

// The same handling with the front-end's own handler: `handler` gets SIGINT, SIGTERM and
// SIGHUP, except those ignored when this is called, without restarting interrupted calls;
// SIGXFSZ is ignored.
void InstallEndingSignalHandler(void (*handler)(int));

// The exit status of a run ended by `signal`: 128 + its number, as the shell reports a process
// killed by it.
int ExitStatusForSignal(int signal);

// "SIGINT", "SIGTERM", "SIGHUP", or "a signal".
const char* SignalName(int signal);

}  // namespace drovanta
