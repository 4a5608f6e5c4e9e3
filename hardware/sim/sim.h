#pragma once
// The simulated board. It stands behind the board seam when
// TESSAROD_BOARD=sim: each open of a simulated device hands out one end of an
// AF_UNIX SOCK_SEQPACKET pair, so poll, one record per read, EAGAIN and
// POLLHUP behave as on the board; the simulator keeps the other end.
//
// The board is a set of devices (Sim::Device, one per device path) around a
// shared TDM fabric (Sim::Tdm) that carries frames between whatever its
// crosspoints connect. Every request is written to a request log; failures,
// far-end frames, end of file and read errors can be injected, in-process
// through this class or from outside through a line-based control socket
// under the root folder ("<root>/run/tessarod-sim.sock").
//
// A request costs about a function call: the board keeps a table from the
// daemon's descriptors to their sessions, which open, the seam's close and
// every copy or close made through an Fd keep up to date (a descriptor the
// table does not know is looked up once through the kernel), and the log is
// a fixed ring of compact records.
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hardware/board/board.h"
#include "runtime/os/fd.h"

namespace Sim {

using Bytes = std::vector<uint8_t>;
class Board;
class Device;

// One open of a simulated device.
struct Session {
  int id = 0;
  Device* device = nullptr;
  int driverFd = -1;     // the simulator's end of the pair
  ino_t inode = 0;       // identifies the daemon's end (and every dup of it)
  bool held = false;     // the daemon's writes stay queued (a stalled transmitter)
  int readError = 0;     // errno the daemon's next read reports
  int channel = -1;      // device-specific: e.g. the controller channel
  int kind = 0;          // device-specific: e.g. the controller channel type
  unsigned rxFrames = 0; // records handed to the daemon
  unsigned txFrames = 0; // records the daemon wrote
  unsigned rxDropped = 0;
};

// One request as the device sees it.
struct Request {
  uint32_t code = 0;
  uint8_t* record = nullptr;  // big-endian record of `size` bytes, in and out
  std::size_t size = 0;
  bool byValue = false;
  unsigned long value = 0;
  int32_t word(std::size_t i) const;          // 32-bit word i of the record
  void setWord(std::size_t i, int32_t v);
};

// Something inside the simulator that receives what a TDM output carries
// (e.g. the receive side of a controller channel).
class Endpoint {
 public:
  virtual ~Endpoint() = default;
  virtual void receive(const Bytes& frame) = 0;
};

// The TDM cross-connect: outputs take sources; channels may carry constant
// bytes. Frames entering at a source reach every output connected to it:
// an endpoint inside the simulator, or else the far end of that output,
// where they wait until a test takes them.
class Tdm {
 public:
  void connect(int output, int source);
  void disable(int output);
  void write(int channel, uint8_t byte);
  // The byte present on a channel: its constant, else what its source
  // carries (constant or driven by the far end), else what the far end
  // drives on it, else the idle 0xFF.
  uint8_t read(int channel) const;
  // The far end drives a byte onto a channel (for bus reads); -1 stops it.
  void drive(int channel, int byte);
  // A frame enters the fabric at `source`; returns how many outputs took it.
  int send(int source, const Bytes& frame);

  void attach(int channel, Endpoint* ep);
  void detach(int channel, Endpoint* ep);

  const std::map<int, int>& crosspoints() const { return xpoint_; }
  const std::map<int, uint8_t>& constants() const { return constant_; }
  int sourceOf(int output) const;  // -1 when the output is not connected
  // Frames that left through `output` towards the far end; taken out.
  std::vector<Bytes> takeFarEnd(int output);
  void reset();

 private:
  std::map<int, int> xpoint_;
  std::map<int, uint8_t> constant_;
  std::map<int, uint8_t> driven_;
  std::map<int, Endpoint*> endpoints_;
  std::map<int, std::deque<Bytes>> farEnd_;
};

// A simulated character device. Adding a device: derive, give it its board
// path, answer its requests in onIoctl, take the daemon's records in onWrite,
// and optionally offer control-socket commands; then Board::addDevice.
class Device {
 public:
  explicit Device(std::string path) : path_(std::move(path)) {}
  virtual ~Device() = default;
  const std::string& path() const { return path_; }

  // A new open; a negative errno refuses it.
  virtual int onOpen(Session&) { return 0; }
  // The daemon closed every copy of the descriptor, or the simulator ended it.
  virtual void onClose(Session&) {}
  // Answers a request: a result of 0 or more, or a negative errno.
  virtual int onIoctl(Session& s, Request& r) = 0;
  // One record the daemon wrote.
  virtual void onWrite(Session&, const Bytes&) {}
  // A control-socket command; false when the verb is not this device's.
  virtual bool command(const std::string& verb, std::istream& args, std::ostream& out) {
    (void)verb, (void)args, (void)out;
    return false;
  }
  // One line per command for "help".
  virtual void help(std::ostream&) const {}
  // Back to the state after power-on.
  virtual void reset() {}

  Board* board = nullptr;

 private:
  std::string path_;
};

class HalDevice;
class MccDevice;

class Board : public ::Board::Backend, private FdWatcher {
 public:
  // The process's simulated board, made with its devices on first use.
  static Board& instance();
  Board();
  ~Board() override;

  // The seam.
  int open(const char* path, int flags) override;
  int ioctl(int fd, uint32_t request, void* record) override;
  int ioctlValue(int fd, uint32_t request, unsigned long value) override;
  ssize_t read(int fd, void* buf, size_t len) override;
  ssize_t write(int fd, const void* buf, size_t len) override;
  int close(int fd) override;

  // Devices.
  void addDevice(std::unique_ptr<Device> d);
  Device* device(const std::string& path) const;
  HalDevice& hal() const { return *hal_; }
  MccDevice& mcc() const { return *mcc_; }
  Tdm& tdm() { return tdm_; }
  // An absent device fails every open with ENOENT.
  void setPresent(const std::string& path, bool present);

  // Failure injection: the next `count` requests `request` (0: any) on the
  // device fail with `err`, without reaching the device.
  void failNext(const std::string& path, uint32_t request, int err, int count = 1);

  // Request log, oldest first: a ring of the most recent requests, by
  // default the last kDefaultLogRecords ($TESSAROD_SIM_LOG at start-up or
  // setLogCapacity() keep more, e.g. a test that wants every request).
  static constexpr std::size_t kDefaultLogRecords = 1024;
  struct LogEntry {
    std::string device;
    uint32_t request = 0;
    Bytes in;                 // the record as it came in
    bool byValue = false;
    unsigned long value = 0;
    int result = 0;
    int err = 0;              // errno of a failed request
    std::string text() const;
  };
  std::vector<LogEntry> log() const;
  std::size_t logSize() const { return logCount_; }
  void clearLog() { logFirst_ = logCount_ = 0; }
  // Room for at least `records` requests (a power of two); clears the log.
  void setLogCapacity(std::size_t records);
  // Requests `request` on the device with `first` as first word, in order.
  std::vector<int32_t> firstWords(const std::string& path, uint32_t request) const;

  // Sessions.
  Session* sessionOf(int fd);
  Session* sessionByChannel(const std::string& path, int channel);
  std::vector<Session*> sessions(const std::string& path);
  // Sends one record to the daemon's end; false when the daemon's queue is full.
  bool deliver(Session& s, const Bytes& record);
  // Ends a session: the daemon reads end of file and sees POLLHUP.
  void endSession(Session& s);
  // The daemon's next read on the session fails with `err`.
  void failRead(Session& s, int err);
  // A held session's records stay queued on the daemon's side, so its
  // writes meet EAGAIN once the queue is full; releasing drains it.
  void hold(Session& s, bool on);

  // Serves everything pending: records the daemon wrote, closed sessions,
  // control-socket clients. Unit tests call it; in the daemon the loop does.
  void pump();
  // A descriptor that is readable while pump() has work.
  int pollFd() const { return epoll_; }

  // Back to power-on, keeping the open descriptors: the fabric, the log,
  // injected failures and device states cleared, every device present.
  void reset();

  // Control protocol: runs one command line and returns the reply, whose
  // last line is "ok" or starts with "error: ".
  std::string execute(const std::string& line);
  // The control socket's path ("" when it could not be made).
  const std::string& controlPath() const { return controlPath_; }
  // Opens the control socket under the root folder (done by instance()),
  // owner-only whatever the umask; stopControl() closes and removes it.
  bool startControl();
  void stopControl();
  // When accepting fails (e.g. no descriptor left) the socket is paused:
  // not watched until resumeControl(), which the loop calls a second later.
  void pauseControl();
  void resumeControl();
  bool controlPaused() const { return acceptPaused_; }
  // How "clock <ms>" advances the daemon's loop clock.
  void setClockHook(std::function<void(unsigned)> hook) { clockHook_ = std::move(hook); }
  // How a paused control socket asks to be resumed later.
  void setRetryHook(std::function<void()> hook) { retryHook_ = std::move(hook); }

 private:
  struct Failure {
    const Device* device;
    uint32_t request;
    int err;
    int count;
  };
  struct Client {
    int fd;
    std::string in;
  };
  // One logged request; its argument bytes are in the byte ring at `at`.
  struct LogRecord {
    const Device* device;
    uint64_t at;
    uint64_t value;
    uint32_t request;
    int32_t result;
    uint16_t size;
    uint16_t err;
    bool byValue;
  };
  uint64_t logBytes(const uint8_t* p, std::size_t n);
  void logRecord(const LogRecord& r);
  // Both rings have a power-of-two size, so a position masks down to an index.
  uint8_t logByte(uint64_t at) const { return logBytes_[std::size_t(at) & (logBytes_.size() - 1)]; }
  LogEntry entry(const LogRecord& r) const;
  const LogRecord& logAt(std::size_t i) const { return logRecords_[(logFirst_ + i) & (logRecords_.size() - 1)]; }
  // The descriptor table.
  void bindFd(int fd, Session* s);
  void duplicated(int from, int to) override;
  void closing(int fd) override;
  int request(int fd, Request& r);
  void drain(Session& s);
  void closeSession(int id);
  void reap();  // ends the sessions whose descriptors the daemon closed
  void watch(int fd, bool on);
  void serveControl();
  void serveClient(Client& c);
  bool builtin(const std::string& verb, std::istream& args, std::ostream& out);

  std::vector<std::unique_ptr<Device>> devices_;
  HalDevice* hal_ = nullptr;
  MccDevice* mcc_ = nullptr;
  Tdm tdm_;
  std::set<std::string> absent_;
  std::vector<Failure> failures_;
  std::vector<LogRecord> logRecords_;  // ring
  std::size_t logFirst_ = 0, logCount_ = 0;
  std::vector<uint8_t> logBytes_;  // ring of the records' argument bytes
  uint64_t logEnd_ = 0;            // bytes ever written to it
  std::map<int, std::unique_ptr<Session>> sessions_;  // by id
  std::map<ino_t, int> byInode_;
  std::vector<Session*> byFd_;  // the daemon's descriptors and their copies
  int nextId_ = 1;
  int epoll_ = -1;
  int listen_ = -1;
  std::string controlPath_;
  std::vector<Client> clients_;
  std::function<void(unsigned)> clockHook_;
  std::function<void()> retryHook_;
  bool acceptPaused_ = false;
  bool acceptFailing_ = false;  // logged once until an accept succeeds
  pid_t controlOwner_ = 0;      // a forked child never removes the socket
};

// Hooks the board into the daemon's event loop (pump() on readiness, the
// loop clock for "clock"); defined beside the loop glue.
void attachToLoop(Board& b);

// Text helpers of the control protocol.
std::string hex(const Bytes& b);
bool parseHex(const std::string& text, Bytes& out);
// Takes the next argument as a whole number into `out`; false, taking
// nothing, when it is absent or not a number. A number outside lo..hi is
// refused: std::invalid_argument "<what> <text> out of range (<lo>..<hi>)".
bool readNumber(std::istream& args, const char* what, long lo, long hi, long& out);

}  // namespace Sim
