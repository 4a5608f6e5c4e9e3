// Entry point of tessarod: reads the configuration, installs the signal
// handlers, parses the command line, creates the process-wide services,
// optionally detaches, binds the control services and runs the event loop
// until SIGTERM or SIGINT.
#include <iostream>
#include <sstream>

#include "control/acceptor.h"
#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_tests.h"
#include "hardware/hwmux.h"
#include "hardware/spi_ctrl.h"
#include "monitoring/monitoring_ctl.h"
#include "radio/slot_factories.h"
#include "runtime/config/inifile.h"
#include "runtime/daemon/daemon.h"
#include "runtime/log/line_buffer.h"
#include "runtime/log/traces.h"
#include "runtime/log/version.h"
#include "runtime/loop/child_wait.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/paths.h"
#include "runtime/os/pidfile.h"
#include "runtime/startup/command_line.h"
#include "runtime/startup/signals.h"
#include "slots/slots.h"

namespace {

void DisableClock() { BusCtl::instance().DisableControl(); }

}  // namespace

// Detaches; from here on the three standard streams go to syslog under
// the ident "tsd-<version>".
void RunDaemon() {
  std::ostringstream ident;
  ident << "tsd-" << Version::current;
  Daemon::Params params;
  params.name = ident.str();
  Daemon::Init(params);
}

// When SIGHUP came: sends the controller the current hardware resources.
void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance().UpdateHardwareResources();
}

// Polls the flags the signal handlers set; runs twice in every loop pass.
void CheckSignals() {
  CheckDumpStatus();
  CheckUpdateResources();
}

int main(int argc, char** argv) {
  // The root folder is fixed, absolute, before anything changes the working
  // directory (the configuration check, the detach).
  RootPath::reload();
  // Log lines go out one write per line, every line, in order.
  Log::InstallLineBuffers();
  IniFile::File config;
  if (config.Open(RootPath::resolve("/usr/local/etc/server.conf"))) {
    traces = TraceCtl();
    traces.Configure(*config["traces"]);
  }

  Startup::InstallSignalHandlers();

  Startup::Options options;
  const int code = Startup::ParseCommandLine(argc, argv, options, std::cout, DisableClock);
  if (code >= 0) return code;
  if (print_version) {
    std::cout << "server version: " << Version::current << std::endl;
    return 2;
  }

  // Slot factories: the one created last is asked first.
  CreateSlotFactories();
  HwMux::instance();

  MonitoringCtl::instance().Configure(config);

  if (options.daemon) RunDaemon();

  Linux::Run pidFile("server");

  std::cout << "Starting server " << "[" << Version::current << "]" << ", port=" << options.port << std::endl;

  ctrlServer.Bind(&HeartBeatCtl::instance());
  ctrlServer.Bind(&Slots::instance());
  ctrlServer.Bind(&HwTests::instance());
  ctrlServer.Bind(&BusCtl::instance());
  ctrlServer.Bind(&E1Ctl::instance());
  ctrlServer.Bind(&spiCtrl::instance());
  ctrlServer.Bind(&MonitoringCtl::instance());

  ChildWait::Activate();

  Dpc signals;
  signals.Bind(CheckSignals);
  signals.Activate();

  ctrlServer.Activate(new Control::AcceptorCheckConnection(options.port));

  multiplexer.run(true, true);

  ctrlServer.Deactivate();
  return 0;
}
