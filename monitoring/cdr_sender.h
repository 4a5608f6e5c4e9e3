#pragma once
// Sends one call detail record as a UDP datagram to each address of a
// white-space separated list ("a.b.c.d:port ..."). One unbound UDP socket
// serves the sender's whole life.
#include <string>

#include "runtime/os/fd.h"

namespace CDR_Sender {

class Sender {
 public:
  Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  virtual ~Sender();

  // Sends the record's bytes (no terminator) to every address in list order.
  // A word that is no "a.b.c.d:port" address (port 1 to 65535) is skipped;
  // the others are still sent. True when the socket exists, every word was
  // an address and every datagram left whole; an empty list gives true.
  bool SendTo(std::string& record, const std::string& addresses);

 private:
  Fd fd;
};

}  // namespace CDR_Sender
