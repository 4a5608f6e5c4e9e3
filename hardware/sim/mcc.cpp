#include "hardware/sim/mcc.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

// Hands what the fabric brings to a controller channel to the daemon's end.
class MccDevice::Receiver : public Endpoint {
 public:
  Receiver(Board& b, int sessionId, int channel) : board_(b), id_(sessionId), channel_(channel) {}
  void receive(const Bytes& frame) override {
    for (Session* s : board_.sessions("/dev/mcc/ctl"))
      if (s->id == id_) board_.deliver(*s, frame);
  }
  int channel() const { return channel_; }

 private:
  Board& board_;
  int id_;
  int channel_;
};

MccDevice::MccDevice() : Device("/dev/mcc/ctl") {}
MccDevice::~MccDevice() = default;

int MccDevice::allocate() {
  int ch = next_ >= 0 && !receivers_.count(next_) ? next_ : kFirstChannel;
  next_ = -1;
  while (receivers_.count(ch)) ++ch;
  return ch;
}

int MccDevice::onIoctl(Session& s, Request& r) {
  switch (r.code) {
    case R::MccAllocate:
      if (r.size < 20) return -EFAULT;
      if (s.channel >= 0) return -EBUSY;
      s.kind = r.word(0) + 1;  // 0 stays "not allocated"
      return 0;
    case R::MccTimeslot: {
      if (s.kind == 0) return -EINVAL;
      if (s.channel < 0) {
        s.channel = allocate();
        auto rx = std::make_unique<Receiver>(*board, s.id, s.channel);
        board->tdm().attach(s.channel, rx.get());
        receivers_[s.channel] = std::move(rx);
      }
      return s.channel;
    }
    default:
      return -ENOTTY;
  }
}

void MccDevice::onWrite(Session& s, const Bytes& frame) {
  if (s.channel >= 0) board->tdm().send(s.channel, frame);
}

void MccDevice::onClose(Session& s) {
  if (s.channel < 0) return;
  auto it = receivers_.find(s.channel);
  if (it != receivers_.end()) {
    board->tdm().detach(s.channel, it->second.get());
    receivers_.erase(it);
  }
  s.channel = -1;
}

void MccDevice::reset() { next_ = -1; }

void MccDevice::help(std::ostream& out) const {
  out << "channels                     controller channels: \"<channel> type <t> rx <n> tx <n> dropped <n>\"\n"
      << "mcc-next <channel>           number of the next controller channel allocated\n"
      << "eof <channel>                the controller ends the channel (end of file, POLLHUP)\n"
      << "readerr <channel> <errno>    the next read on the channel fails\n"
      << "hold <channel> on|off        stall or release the channel's transmitter\n";
}

bool MccDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "channels") {
    for (Session* s : board->sessions(path()))
      if (s->channel >= 0)
        out << s->channel << " type " << s->kind - 1 << " rx " << s->rxFrames << " tx " << s->txFrames
            << " dropped " << s->rxDropped << '\n';
    return true;
  }
  if (verb == "mcc-next") {
    long ch;
    if (!readNumber(args, "channel", 0, kMaxChannel, ch)) throw std::invalid_argument("usage: mcc-next <channel>");
    setNextChannel(int(ch));
    return true;
  }
  if (verb != "eof" && verb != "readerr" && verb != "hold") return false;
  int ch;
  if (!(args >> ch)) throw std::invalid_argument("usage: " + verb + " <channel> ...");
  Session* s = channel(ch);
  if (!s) throw std::invalid_argument("no controller channel " + std::to_string(ch));
  if (verb == "eof") {
    board->endSession(*s);
  } else if (verb == "readerr") {
    int err;
    if (!(args >> err) || err <= 0) throw std::invalid_argument("usage: readerr <channel> <errno>");
    board->failRead(*s, err);
  } else {
    std::string v;
    args >> v;
    if (v != "on" && v != "off") throw std::invalid_argument("usage: hold <channel> on|off");
    board->hold(*s, v == "on");
  }
  return true;
}

}  // namespace Sim
