#pragma once
// The bottom layer of the TCP links: one connected, non-blocking stream
// socket. Reads whatever the socket holds and passes it up unchanged; writes
// each packet handed down completely before returning, waiting at most
// 1000 ms in all for the socket to take the bytes. Any socket failure
// closes the descriptor and sends a failure status up the stack.
#include <iosfwd>
#include <string>

#include "control/protocol.h"
#include "runtime/log/measure.h"
#include "runtime/loop/event.h"
#include "runtime/os/fd.h"

// Non-zero: the destructor logs its entry (debugging aid, off by default).
extern int strm_protocol_debug;

class StrmProtocol : public Protocol {
 public:
  // How long message() may wait in all for a full socket.
  static const int write_timeout_ms = 1000;

  StrmProtocol();
  explicit StrmProtocol(Fd fd);
  ~StrmProtocol() override;

  const Protocol_name& name() const override { return name_; }

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void attach(Fd fd);
  void release();
  bool opened() const { return fd_.is_valid(); }

  void on_event(int fd, short revents);
  void do_read();
  void on_error(const std::string& text);

  unsigned int sendbuf_space() const;
  unsigned int recvbuf_space() const;
  unsigned int inq_space() const;
  unsigned int outq_space() const;
  unsigned int free_space() const;

  void PutHeader(std::ostream& os) const;
  const std::string& service_name() const { return service_name_; }
  void service_name(const std::string& n) { service_name_ = n; }

  const Measure& get_read_measure() const { return read_measure_; }
  const Measure& get_write_measure() const { return write_measure_; }
  unsigned int GetOverflowCounter() const { return overflow_; }

  void set_verbose(bool on) { verbose_ = on; }

 private:
  void init();
  void put_figures(std::ostream& os) const;

  Protocol_name_str name_{"StrmProtocol"};
  Fd fd_;
  bool outq_is_free_space_ = false;
  bool verbose_ = false;
  std::string service_name_;
  Event event_;
  Measure read_measure_;
  Measure write_measure_;
  unsigned int overflow_ = 0;
};
