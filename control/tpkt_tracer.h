#pragma once
// A small TCP server for TPKT-framed debug traffic with any number of
// clients. Each client's stream is cut into payloads of at most 512 bytes,
// handed to the listener; Send() answers the client being served (when
// called from the listener) or broadcasts to every client. A client that
// sends a malformed or oversized frame, or cannot take a frame at once, is
// closed; the others are not affected. When no descriptor is left for a
// newcomer, accepting pauses for 1000 ms at a time.
#include <poll.h>

#include <list>

#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"

class TPKTTracer {
 public:
  static const unsigned int max_payload = 512;
  static const unsigned int accept_retry_ms = 1000;

  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void OnMessage(const void* data, unsigned length) = 0;
  };

  struct Connection {
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool header = true;
    unsigned int expected = 4;
    unsigned int received = 0;
    Event event;
    unsigned char buffer[max_payload];
  };

  typedef std::list<Connection*> Connections;

  TPKTTracer() : current_(connections_.end()) {}
  ~TPKTTracer();
  TPKTTracer(const TPKTTracer&) = delete;
  TPKTTracer& operator=(const TPKTTracer&) = delete;

  void SetListener(Listener* l) { listener_ = l; }
  bool Listen(unsigned short port);
  void Send(const void* data, unsigned length);

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  void OnAcceptRetry();
  void CloseConnection(Connections::iterator it);
  Connections::iterator FindConnection(int fd);

  // The client whose payload is being delivered (end() otherwise); a
  // listener closes it with CloseConnection(current()).
  Connections::iterator current() { return current_; }
  Connections::iterator end() { return connections_.end(); }
  size_t connection_count() const { return connections_.size(); }
  // The port the listening socket is bound to (0 when not listening).
  unsigned short bound_port() const;
  // False while accepting pauses for want of descriptors.
  bool accepting() const { return listen_event_.IsActive() && (listen_event_.events() & POLLIN); }

 private:
  Listener* listener_ = nullptr;
  Event listen_event_;
  Timer accept_timer_;
  Connections connections_;
  Connections::iterator current_;
};
