#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "runtime/daemon/daemon.h"
#include "runtime/daemon/stream_bufs.h"
#include "runtime/log/ext.h"
#include "runtime/log/line_buffer.h"
#include "runtime/log/measure.h"
#include "runtime/log/version.h"
#include "support/startup_harness.h"

using startup_test::SyslogCapture;
using startup_test::SyslogMessage;

namespace {

class SysLogStream : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    cap_ = SyslogCapture::get(&why);
    if (!cap_) FAIL() << "no syslog capture: " << why;
    ::openlog("tsd-test", 0, 0);
    cap_->clear();
  }

  // The texts of the messages that arrive within a short while.
  std::vector<std::string> texts(int priority, int ms = 300) {
    std::vector<std::string> out;
    SyslogMessage m;
    while (cap_->next(m, ms)) {
      EXPECT_EQ(m.priority, priority);
      EXPECT_EQ(m.ident, "tsd-test");
      out.push_back(m.text);
    }
    return out;
  }

  SyslogCapture* cap_ = nullptr;
};

using V = std::vector<std::string>;

// One row per stream: the severity, what is written (with a fresh buffer),
// the priority and texts of the messages that arrive. A flush sends the
// text after the last line feed too; text without any line feed waits for
// its line end or flushAll (at exit); a line longer
// than the buffer is cut at 1023 characters; a buffer from outside is used
// (and not freed: ASan would object).
TEST_F(SysLogStream, EveryLineIsOneMessageAtTheStreamsPriority) {
  const std::string x1500(1500, 'x');
  const struct {
    int severity;
    std::function<void(std::ostream&, SysLogStreamBuf&)> write;
    int priority;
    V texts;
  } rows[] = {
      {LOG_NOTICE, [](std::ostream& os, SysLogStreamBuf&) { os << "Starting server [R2033], port=20001" << std::endl; },
       29, {"Starting server [R2033], port=20001"}},
      {LOG_NOTICE, [](std::ostream& os, SysLogStreamBuf&) { os << "a\nb\n" << std::flush; }, 29, {"a", "b"}},
      {LOG_NOTICE, [](std::ostream& os, SysLogStreamBuf&) { os << "half" << std::flush; }, 29, {}},
      {LOG_NOTICE, [](std::ostream& os, SysLogStreamBuf&) { os << "half" << std::flush << " line" << std::endl; },
       29, {"half line"}},
      {LOG_NOTICE,
       [](std::ostream& os, SysLogStreamBuf& buf) {
         os << "c\nd" << std::flush << "e" << std::flush;
         buf.flushAll();
       },
       29, {"c", "d", "e"}},
      {LOG_ERR, [](std::ostream& os, SysLogStreamBuf&) { os << "100% done %s %n %d" << std::endl; }, 27,
       {"100% done %s %n %d"}},
      {LOG_DEBUG, [&](std::ostream& os, SysLogStreamBuf&) { os << x1500 << std::endl; }, 31,
       {std::string(1023, 'x'), std::string(477, 'x')}},
      {LOG_NOTICE,
       [](std::ostream& os, SysLogStreamBuf& buf) {
         static char mine[8];
         os << "before";
         buf.pubsetbuf(mine, sizeof mine);  // sends nothing that is not a full line
         os << "\nabcdefghij\n" << std::flush;
       },
       29, {"before", "abcdefg", "hij"}},
  };
  for (const auto& r : rows) {
    SysLogStreamBuf buf(LOG_DAEMON, r.severity);
    EXPECT_EQ(buf.priority(), r.priority);
    std::ostream os(&buf);
    r.write(os, buf);
    EXPECT_EQ(texts(r.priority), r.texts) << r.texts.size();
  }
}

// Detaching: a second Init does nothing; the ident is cut to 79
// characters. Runs in a child; the detached grandchild logs and leaves with
// _exit: the static destructors of this threaded test program (the syslog
// capture joins its reader thread) would wait forever in a forked copy.
TEST_F(SysLogStream, DaemonInitCutsALongIdent) {
  const std::string name(100, 'n');
  pid_t pid = ::fork();
  if (pid == 0) {
    Daemon::Params p;
    p.name = name;
    p.nochdir = true;
    Daemon::Init(p);
    Daemon::Init(p);
    std::cout << "hello" << std::endl;
    ::_exit(0);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  auto got = cap_->collect([&](const SyslogMessage& m) { return m.text == "hello"; });
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].ident, std::string(79, 'n'));
  EXPECT_EQ(got[0].priority, 29);
}

// ---------------------------------------------------------- line buffers

// The writes a LineStreamBuf makes, one datagram each.
struct Writes {
  Writes() {
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) ADD_FAILURE();
  }
  ~Writes() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  V take() {
    V out;
    char b[8192];
    ssize_t n;
    while ((n = ::recv(fds[0], b, sizeof b, MSG_DONTWAIT)) > 0) out.emplace_back(b, static_cast<std::size_t>(n));
    return out;
  }
  int fds[2];
};

TEST(LineStream, OneWritePerLineNothingHeldOnceComplete) {
  const std::string big(5000, 'x');
  const struct {
    std::function<void(std::ostream&, Log::LineStreamBuf&)> write;
    V writes;
  } rows[] = {
      {[](std::ostream& os, Log::LineStreamBuf&) { os << std::unitbuf << "a" << 1 << "b" << std::endl; }, {"a1b\n"}},
      {[](std::ostream& os, Log::LineStreamBuf&) { os << "x\ny\n"; }, {"x\ny\n"}},
      {[](std::ostream& os, Log::LineStreamBuf&) { os << "p" << 2 << '\n' << "q"; }, {"p2\n"}},
      {[](std::ostream& os, Log::LineStreamBuf&) { os << "half" << std::flush; }, {}},
      {[](std::ostream& os, Log::LineStreamBuf& buf) {  // what waits goes out with flushAll (at exit)
         os << "tail";
         buf.flushAll();
       },
       {"tail"}},
      {[](std::ostream& os, Log::LineStreamBuf&) { os.put('z') << std::endl; }, {"z\n"}},
      {[&](std::ostream& os, Log::LineStreamBuf&) { os << big << std::endl; }, {big.substr(0, 4096), big.substr(4096) + "\n"}},
  };
  for (const auto& r : rows) {
    Writes w;
    Log::LineStreamBuf buf(w.fds[1]);
    std::ostream os(&buf);
    r.write(os, buf);
    EXPECT_EQ(w.take(), r.writes);
  }
}

TEST(LineStreamDeath, PartialLinesReachTheTerminalAtExitAndOnTerminate) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Log::InstallLineBuffers();
        std::clog << "exit tail";
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "exit tail");
  EXPECT_DEATH(
      {
        Log::InstallLineBuffers();
        std::cerr << "line\n" << "partial";
        std::terminate();
      },
      "line\npartial");
}

// ---------------------------------------------------------------- log files

struct FakeClock {
  static struct timeval now;
  static void get(struct timeval* tv) { *tv = now; }
};
struct timeval FakeClock::now;

// Lines get a time prefix and go to the file of their hour; an unwritable
// folder loses the text quietly.
TEST(LogFileStream, LinesGetATimePrefixAndTheHoursFile) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  startup_test::TempRoot root;
  const std::string dir = root.path();
  FakeClock::now = {1767351599, 1234};  // 2026-01-02 10:59:59 UTC
  {
    LogFileStreamBuf buf(dir, FakeClock::get);
    std::ostream os(&buf);
    os << "first" << std::endl;
    FakeClock::now = {1767351600, 5};
    os << "second" << std::endl;
  }
  EXPECT_EQ(startup_test::readFile(dir + "/2026_01_02-10.log"), "59:59:01234: first\n");
  EXPECT_EQ(startup_test::readFile(dir + "/2026_01_02-11.log"), "00:00:00005: second\n");
  LogFileStreamBuf lost(dir + "/no/such/dir", FakeClock::get);
  std::ostream os(&lost);
  os << "lost" << std::endl;
  EXPECT_TRUE(os.good());
}


// Each row writes to a fresh stream. Hex bytes leave the fill blank and the
// flags as they were; a table cuts long cells, drops extra ones, puts an odd
// remainder on the right, closes a begun row at the sentry and prints
// nothing without columns.
TEST(Ext, HexBytesAndTables) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  const struct {
    std::function<void(std::ostream&)> write;
    const char* text;
  } rows[] = {
      {[&](std::ostream& os) { os << std::setfill('*') << ext::hex(bytes, bytes + 2) << std::setw(3) << 5 << ' ' << 26; },
       "0A FF   5 26"},
      {[](std::ostream& os) { os << ext::hex("", 0u); }, ""},
      {[](std::ostream& os) { os << ext::hex("\x01\x80", 2u); }, "01 80 "},
      {[&](std::ostream& os) { ext::hex(bytes, bytes + 2).Put(os); }, "0A FF "},  // what streaming writes
      {[](std::ostream& os) { os << std::setfill('*'); ext::hex(31u, 4u).Put(os); os << std::setw(3) << 5; },
       "0x001F  5"},
      {[](std::ostream& os) {
         ext::Table t(5, 3);
         os << t << ext::delimeter;
         os << t << "ab" << ext::nextrow << "xyz" << ext::nextrow;
         os << t << ext::beginrow << "ab" << ext::nextrow;
         os << t << ext::delimeter;
       },
       "+-----+---+\n| ab  |xyz|\n| ab  |   |\n+-----+---+\n"},
      {[](std::ostream& os) {
         ext::Table t(4, 2);
         os << t << "abcdefgh" << ext::nextrow << 7 << ext::nextrow << "extra" << ext::nextrow;
       },
       "|abcd|7 |\n"},
      {[](std::ostream& os) {
         ext::Table t;
         os << t << ext::delimeter << "x" << ext::nextrow;
         os << t << ext::delimeter;
       },
       ""},
      {[](std::ostream& os) {
         ext::Table t(6);
         os << t << "abc" << ext::nextrow;
       },
       "| abc  |\n"},
  };
  for (const auto& r : rows) {
    std::ostringstream os;
    r.write(os);
    EXPECT_EQ(os.str(), r.text);
    EXPECT_EQ(os.fill(), ' ');
    EXPECT_FALSE(os.flags() & (std::ios_base::hex | std::ios_base::uppercase));
  }
}

TEST(Profile, TheNewestPointHeadsTheList) {
  Profile::Point a("a"), b("b");
  EXPECT_EQ(Profile::mRoot, &b);
}

}  // namespace
