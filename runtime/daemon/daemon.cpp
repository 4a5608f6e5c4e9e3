#include "runtime/daemon/daemon.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "runtime/daemon/stream_bufs.h"
#include "runtime/log/line_buffer.h"

namespace Daemon {
namespace {

// openlog keeps the pointer, so the ident lives for the whole process.
char gIdent[80];

}  // namespace

Sentry::Sentry(const Params& params) : mMode(params.mode) {
  // Text still waiting for the terminal must not end up in the null device.
  std::cout.flush();
  std::clog.flush();
  Log::FlushLogs();
  std::fflush(nullptr);
  if (::daemon(params.nochdir ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }
  if (mMode == 0) {
    std::strncpy(gIdent, params.name.c_str(), sizeof gIdent - 1);
    gIdent[sizeof gIdent - 1] = '\0';
    ::openlog(gIdent, 0, 0);
    std::cout.rdbuf(new SysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
    std::cerr.rdbuf(new SysLogStreamBuf(LOG_DAEMON, LOG_ERR));
    std::clog.rdbuf(new SysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
    std::cin.tie(&std::cout);
  } else if (mMode == 1) {
    mLogFile = new LogFileStreamBuf(params.name);
    std::cout.rdbuf(mLogFile);
    std::cerr.rdbuf(mLogFile);
    std::clog.rdbuf(mLogFile);
  }
}

Sentry::~Sentry() {
  if (mMode == 1) {
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    delete mLogFile;
  }
}

void Init(const Params& params) { static Sentry sentry(params); }

}  // namespace Daemon
