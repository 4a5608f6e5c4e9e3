#pragma once
// The daemon's signal handling. The handlers do no work: SIGTERM and SIGINT
// stop the loop, SIGUSR2 and SIGHUP set a flag that CheckDumpStatus and the
// resource update act on from inside the loop; SIGPIPE is caught and
// ignored.
#include <signal.h>

#include <iosfwd>

// Set by SIGUSR2, cleared by CheckDumpStatus.
extern volatile sig_atomic_t doDumpStatus;
// Set by SIGHUP, cleared by the resource update.
extern volatile sig_atomic_t updateResources;

void SigPipeHandler(int, siginfo_t*, void*);
void SigTermHandler(int, siginfo_t*, void*);
void SigUsr2Handler(int, siginfo_t*, void*);
void SigHupHandler(int, siginfo_t*, void*);

namespace Startup {

// SIGPIPE, SIGTERM, SIGINT, SIGUSR2, SIGHUP, in this order.
void InstallSignalHandlers();

// The status dump: a heading line, the version and the loop's measurements,
// profiling points and named handlers.
void WriteStatus(std::ostream& out);

}  // namespace Startup

// When SIGUSR2 came: rewrites "/var/log/server-status" (under the root
// folder), or reports "dump status error" when it cannot be opened.
void CheckDumpStatus();
