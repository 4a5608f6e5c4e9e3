#include "slots/t38_slot.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "runtime/os/paths.h"
#include "slots/mcc_slot.h"

namespace {
const char kEngine[] = "/usr/local/sbin/t38";
// What the child exits with when the engine cannot be run (the parent
// sees 237, the low byte).
constexpr int kExecFailed = 1005;
}  // namespace

T38SoftSlot::T38SoftSlot(int pid, int channel) : mPid(pid), mChannel(channel) {
  mWait.Bind(this, &T38SoftSlot::OnT38Terminate);
  mWait.Attach(pid);
}

std::ostream& T38SoftSlot::PutHeader(std::ostream& os) const { return os << *this << ": "; }

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  // An ended engine's pid may already belong to another process.
  if (mPid >= 1) ::kill(mPid, SIGTERM);
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  if ((status & 0x7f) == 0)
    PutHeader(std::clog) << "t38 daemon terminated with code=" << ((status >> 8) & 0xff) << std::endl;
  else if ((status & 0xff) != 0x7f)
    PutHeader(std::clog) << "t38 daemon terminated by signal=" << (status & 0x7f) << std::endl;
  mPid = -1;
  OnAbort(status);
}

T38SoftFactory& T38SoftFactory::instance() {
  static T38SoftFactory factory;
  return factory;
}

std::vector<std::string> T38SoftFactory::EngineArgs(const LGCP::T38Soft& p) {
  const TERM::HostAddress& d = p.get_dhost();
  // The address is taken as a C string: it ends at a NUL it may hold.
  std::vector<std::string> args = {kEngine, "--child", "--remote",
                                   std::string(d.get_iaddr().c_str()) + "/" +
                                       std::to_string(d.get_port().getValue()) + "/" +
                                       std::to_string(p.get_shost().get_port().getValue())};
  for (const auto& a : p.get_args()) {
    if (args.size() >= kMaxArgs - 1) break;
    args.push_back(static_cast<const std::string&>(a));
  }
  return args;
}

std::ostream& T38SoftFactory::PutHeader(std::ostream& os) { return os << "t38soft: "; }

Slot* T38SoftFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.t38soft_isSelected()) return nullptr;
  const LGCP::T38Soft& p = params.get_t38soft();
  const char* fail = "T38SoftFactory::INewSlot - FAIL to ";

  int fd = Board::open("/dev/mcc/ctl", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    PutHeader(std::cerr) << fail << "open </dev/mcc/ctl> [" << e << "]" << std::endl;
    return nullptr;
  }
  Board::WordRecord block{Mcc::kTransparent, p.get_rx_packet_size().getValue(), 0, p.get_rx_threshold().getValue(),
                          p.get_tx_threshold().getValue()};
  if (Board::ioctl(fd, Board::Req::MccAllocate, block.data()) < 0) {
    const int e = errno;
    PutHeader(std::cerr) << fail << "ioctl MCC_ALLOCATE [" << e << "]" << std::endl;
    Board::close(fd);
    return nullptr;
  }
  int channel = Board::ioctl(fd, Board::Req::MccTimeslot, nullptr);
  if (channel < 0) {
    const int e = errno;
    PutHeader(std::cerr) << fail << "ioctl MCC_TIMESLOT [" << e << "]" << std::endl;
    Board::close(fd);
    return nullptr;
  }

  std::vector<std::string> args = EngineArgs(p);
  PutHeader(std::clog) << "args for run t38 daemon:" << std::endl;
  for (std::size_t i = 0; i < args.size(); ++i) PutHeader(std::clog) << "arg[" << i << "]=" << args[i] << std::endl;
  // Everything the child needs is ready before the fork.
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const std::string path = RootPath::resolve(kEngine);

  pid_t pid = ::fork();
  if (pid == 0) {
    // The engine gets the controller channel as its standard input.
    if (fd == 0) ::fcntl(0, F_SETFD, 0);
    else ::dup2(fd, 0);
    ::execv(path.c_str(), argv.data());
    ::_exit(kExecFailed);
  }
  if (pid < 0) {
    const int e = errno;
    PutHeader(std::cerr) << fail << "fork [" << e << "]" << std::endl;
    Board::close(fd);
    return nullptr;
  }
  PutHeader(std::clog) << "t38 daemon[" << pid << "] successfully started" << std::endl;
  Slot* slot = new T38SoftSlot(pid, channel);
  Board::close(fd);  // the engine holds the channel now
  return slot;
}

int T38SoftFactory::QueryNumOfInstances() {
  // The engine's path goes to the shell quoted, whatever the root holds.
  std::string command = "'";
  for (char c : RootPath::resolve(kEngine)) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
  command += "' --num-of-instances";
  // The read end is close-on-exec like every other descriptor of the
  // daemon. A missing engine starts a shell all the same, which only
  // complains: no line, so it is reported as undetected below.
  FILE* f = ::popen(command.c_str(), "re");
  if (!f) {
    PutHeader(std::clog) << "t38 daemon not found!" << std::endl;
    return 0;
  }
  char line[32];
  int n = 0;
  if (std::fgets(line, sizeof line, f)) n = std::atoi(line);
  else PutHeader(std::clog) << "t38: can't detect T38 resources" << std::endl;
  ::pclose(f);
  return n;
}

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(QueryNumOfInstances()); }
