// The simulator's control socket: a line-based text protocol on an AF_UNIX
// stream socket under the root folder, usable from a test or by hand:
//   socat - UNIX-CONNECT:$TESSAROD_ROOT/run/tessarod-sim.sock
// Each command line gets its output lines, then "ok" or "error: <text>".
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "hardware/sim/sim.h"
#include "runtime/os/paths.h"

namespace Sim {

namespace {

// Bounds of the counts a command takes.
constexpr long kMaxFailCount = 1000000000;
constexpr long kMaxClockStep = 86400000;  // a day: the loop's 32-bit clock stays ordered

void makeDirs(const std::string& dir) {
  for (std::size_t i = 1; i <= dir.size(); ++i)
    if (i == dir.size() || dir[i] == '/') ::mkdir(dir.substr(0, i).c_str(), 0755);
}

uint32_t parseRequest(const std::string& s) {
  if (s == "any") return 0;
  std::size_t used = 0;
  unsigned long v = std::stoul(s, &used, 16);
  if (used != s.size()) throw std::invalid_argument("bad request number " + s);
  return uint32_t(v);
}

}  // namespace

bool readNumber(std::istream& args, const char* what, long lo, long hi, long& out) {
  const std::streampos at = args.tellg();
  std::string text;
  if (!(args >> text)) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != '\0') {
    // Not a number: left for the caller to read otherwise.
    args.clear();
    args.seekg(at);
    return false;
  }
  if (errno == ERANGE || v < lo || v > hi)
    throw std::invalid_argument(std::string(what) + " " + text + " out of range (" + std::to_string(lo) + ".." +
                                std::to_string(hi) + ")");
  out = long(v);
  return true;
}

bool Board::startControl() {
  if (listen_ >= 0) return true;
  std::string path = RootPath::resolve("/run/tessarod-sim.sock");
  sockaddr_un addr{};
  if (path.size() >= sizeof(addr.sun_path)) {
    std::cerr << "sim: control socket path too long: " << path << std::endl;
    return false;
  }
  makeDirs(path.substr(0, path.rfind('/')));
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ::unlink(path.c_str());
  // Whoever may connect drives the board: the owner only, whatever the umask.
  const mode_t mask = ::umask(0177);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::umask(mask);
  if (!bound || ::chmod(path.c_str(), 0600) < 0 || ::listen(fd, 8) < 0) {
    std::cerr << "sim: control socket " << path << ": " << std::strerror(errno) << std::endl;
    ::close(fd);
    return false;
  }
  listen_ = fd;
  controlPath_ = path;
  controlOwner_ = ::getpid();
  acceptPaused_ = acceptFailing_ = false;
  watch(listen_, true);
  return true;
}

void Board::stopControl() {
  for (auto& c : clients_) {
    watch(c.fd, false);
    ::close(c.fd);
  }
  clients_.clear();
  if (listen_ < 0) return;
  watch(listen_, false);
  ::close(listen_);
  listen_ = -1;
  // A child forked from the daemon shares the path but not the socket.
  if (controlOwner_ == ::getpid()) ::unlink(controlPath_.c_str());
  controlPath_.clear();
}

void Board::pauseControl() {
  if (acceptPaused_ || listen_ < 0) return;
  acceptPaused_ = true;
  watch(listen_, false);
  if (retryHook_) retryHook_();
}

void Board::resumeControl() {
  if (!acceptPaused_ || listen_ < 0) return;
  acceptPaused_ = false;
  watch(listen_, true);
}

void Board::serveControl() {
  while (listen_ >= 0 && !acceptPaused_) {
    int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0) {
      acceptFailing_ = false;
      clients_.push_back({c, {}});
      watch(c, true);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    // Out of descriptors or memory: the connection stays pending and the
    // socket readable, so stop watching it for a while rather than spin.
    if (!acceptFailing_)
      std::cerr << "sim: control socket: accept failed: " << std::strerror(errno) << "; retrying in 1 s" << std::endl;
    acceptFailing_ = true;
    pauseControl();
  }
  // Serve each client; a client that hung up is dropped.
  for (std::size_t i = 0; i < clients_.size();) {
    Client& c = clients_[i];
    char buf[4096];
    bool gone = false;
    for (;;) {
      ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        c.in.append(buf, std::size_t(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) gone = true;
      break;
    }
    serveClient(c);
    if (gone || c.in.size() > 65536) {
      watch(c.fd, false);
      ::close(c.fd);
      clients_.erase(clients_.begin() + long(i));
    } else {
      ++i;
    }
  }
}

void Board::serveClient(Client& c) {
  std::size_t nl;
  while ((nl = c.in.find('\n')) != std::string::npos) {
    std::string line = c.in.substr(0, nl);
    c.in.erase(0, nl + 1);
    std::string reply = execute(line);
    // Replies are short; the client reads them as they come. A client that
    // does not read for a second loses the rest.
    timeval tv{1, 0};
    ::setsockopt(c.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int fl = ::fcntl(c.fd, F_GETFL);
    ::fcntl(c.fd, F_SETFL, fl & ~O_NONBLOCK);
    std::size_t off = 0;
    while (off < reply.size()) {
      ssize_t n = ::send(c.fd, reply.data() + off, reply.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += std::size_t(n);
    }
    ::fcntl(c.fd, F_SETFL, fl);
  }
}

std::string Board::execute(const std::string& line) {
  std::istringstream args(line);
  std::ostringstream out;
  std::string verb;
  args >> verb;
  try {
    bool done = verb.empty() || builtin(verb, args, out);
    for (std::size_t i = 0; !done && i < devices_.size(); ++i) done = devices_[i]->command(verb, args, out);
    if (!done) throw std::invalid_argument("unknown command \"" + verb + "\" (try help)");
    out << "ok\n";
  } catch (const std::exception& e) {
    out << "error: " << e.what() << '\n';
  }
  return out.str();
}

bool Board::builtin(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "help") {
    out << "help                         this text\n"
        << "log [<n>]                    the last n requests (all that are kept by default)\n"
        << "log-clear                    empties the request log\n"
        << "fail <dev> <req-hex>|any <errno> [<count>]  fail the next requests\n"
        << "absent <dev> on|off          the device cannot be opened\n"
        << "inject <source> <hex>        a far-end frame entering the fabric at a source\n"
        << "frames <output>              far-end frames that left through an output (taken)\n"
        << "clock <ms>                   advance the daemon's loop clock\n"
        << "reset                        back to power-on\n";
    for (const auto& d : devices_) d->help(out);
    return true;
  }
  if (verb == "log") {
    std::size_t n = logSize();
    args >> n;
    n = std::min(n, logSize());
    for (std::size_t i = logSize() - n; i < logSize(); ++i) out << entry(logAt(i)).text() << '\n';
    return true;
  }
  if (verb == "log-clear") {
    clearLog();
    return true;
  }
  if (verb == "fail") {
    std::string dev, req;
    long err = 0, count = 1;
    if (!(args >> dev >> req) || !readNumber(args, "errno", 1, 4095, err))
      throw std::invalid_argument("usage: fail <dev> <req-hex>|any <errno> [<count>]");
    readNumber(args, "count", 1, kMaxFailCount, count);
    if (!device(dev)) throw std::invalid_argument("no device " + dev);
    failNext(dev, parseRequest(req), int(err), int(count));
    return true;
  }
  if (verb == "absent") {
    std::string dev, v;
    if (!(args >> dev >> v) || (v != "on" && v != "off")) throw std::invalid_argument("usage: absent <dev> on|off");
    setPresent(dev, v == "off");
    return true;
  }
  if (verb == "inject") {
    int source;
    std::string rest, h;
    if (!(args >> source)) throw std::invalid_argument("usage: inject <source> <hex>");
    while (args >> h) rest += h;
    Bytes frame;
    if (!parseHex(rest, frame) || frame.empty()) throw std::invalid_argument("bad hex frame");
    out << "outputs " << tdm_.send(source, frame) << '\n';
    return true;
  }
  if (verb == "frames") {
    int output;
    if (!(args >> output)) throw std::invalid_argument("usage: frames <output>");
    for (const Bytes& f : tdm_.takeFarEnd(output)) out << hex(f) << '\n';
    return true;
  }
  if (verb == "clock") {
    long ms;
    if (!readNumber(args, "ms", 0, kMaxClockStep, ms)) throw std::invalid_argument("usage: clock <ms>");
    if (!clockHook_) throw std::invalid_argument("no loop clock to drive");
    clockHook_(unsigned(ms));
    return true;
  }
  if (verb == "reset") {
    reset();
    return true;
  }
  return false;
}

}  // namespace Sim
