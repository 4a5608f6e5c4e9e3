// Serial-port transport of the radio link.
#include "radiolink/proto_vork_uart.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "radiolink/proto_asn.h"
#include "runtime/os/paths.h"

namespace {

// Bytes handed to the channel at a time. Small enough that the records one
// slice can yield always fit the channel's received queue, which is emptied
// after every slice; no frame of a large read is lost.
const int kFeedSlice = 256;

speed_t speed_of(int baud) {
  switch (baud) {
    case 75:
      return B75;
    case 110:
      return B110;
    case 150:
      return B150;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B9600;
  }
}

const char* status_name(int status) {
  const char* n = proto_find_name_by_id(proto_status_const_name, status);
  return n ? n : "";
}

}  // namespace

ProtoVorkUartCtl::ProtoVorkUartCtl() {
  std::memset(&settings_, 0, sizeof settings_);
  std::memset(&saved_, 0, sizeof saved_);
  std::memset(&read_cmd_, 0, sizeof read_cmd_);
  std::memset(&write_cmd_, 0, sizeof write_cmd_);
  proto_chan_open(&channel_, 2);
  channel_.mode = PROTO_MODE_GATEWAY;
}

ProtoVorkUartCtl::~ProtoVorkUartCtl() {
  // The line is not flushed: a frame written just before still goes out.
  Release(false);
  proto_chan_close(&channel_);
}

struct termios ProtoVorkUartCtl::MakeSettings(const ConfigTTY& config) {
  struct termios t;
  std::memset(&t, 0, sizeof t);
  t.c_iflag = IGNPAR;
  t.c_oflag = 0;
  t.c_lflag = 0;
  speed_t speed = speed_of(config.baud);
  tcflag_t cflag = speed | CREAD | CLOCAL;
  cflag |= config.data_bits == 7 ? CS7 : CS8;
  if (config.parity == 1)
    cflag |= PARENB | PARODD;
  else if (config.parity == 2)
    cflag |= PARENB;
  if (config.stop_bits == 2) cflag |= CSTOPB;
  t.c_cflag = cflag;
  t.c_cc[VEOL] = 1;
  t.c_cc[VEOL2] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return t;
}

void ProtoVorkUartCtl::TryOpen() {
  // Reopening an open port first gives it back its own settings, so that
  // the settings saved below are still the port's original ones.
  Close();
  if (!config.device.empty()) port_.open(RootPath::resolve(config.device).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (port_.is_valid()) {
    // The serial driver counts the port's users; a port open elsewhere is
    // left alone. A driver that does not know the request leaves it open.
    int users = 0;
    if (::ioctl(port_.lowlevel_fd(), kUserCountRequest, &users) == 0 && users > 1) port_.close();
  }
  if (port_.is_valid()) {
    tcgetattr(port_.lowlevel_fd(), &saved_);
    settings_ = MakeSettings(config);
    tcflush(port_.lowlevel_fd(), TCOFLUSH);
    tcflush(port_.lowlevel_fd(), TCIFLUSH);
    tcsetattr(port_.lowlevel_fd(), TCSANOW, &settings_);
    event_.Bind("ProtoVorkTTY::OnEvent", &ProtoVorkUartCtl::OnEvent, this);
    event_.Schedule(port_, POLLIN);
    if (!event_.IsActive()) {
      // A port nobody reads is no better than none: closed, and opened
      // again on the retry schedule.
      const int e = errno;
      if (debug) std::clog << "vorkgw: dup fail: " << Errno(e) << std::endl;
      Close();
      retry_.set(kRetryMs, &ProtoVorkUartCtl::OnTimeout, this);
    }
  } else {
    retry_.set(kRetryMs, &ProtoVorkUartCtl::OnTimeout, this);
  }
}

void ProtoVorkUartCtl::Close() { Release(true); }

void ProtoVorkUartCtl::Release(bool flush) {
  retry_.reset();
  event_.Release();
  if (port_.is_valid()) {
    if (flush) tcflush(port_.lowlevel_fd(), TCIOFLUSH);
    tcsetattr(port_.lowlevel_fd(), TCSANOW, &saved_);
    port_.close();
  }
}

void ProtoVorkUartCtl::OnTimeout(Timer*) { TryOpen(); }

void ProtoVorkUartCtl::OnEvent(int, short events) {
  last_read_ = 0;
  if (events & POLLIN) Read();
  if ((events & (POLLHUP | POLLERR | POLLNVAL)) && last_read_ <= 0) {
    // A port that hangs up would be reported (and read as empty) on every
    // pass: once what it still held is read, close it and try again later
    // instead of spinning.
    Close();
    retry_.set(kRetryMs, &ProtoVorkUartCtl::OnTimeout, this);
  }
}

void ProtoVorkUartCtl::Drain(bool last_slice) {
  for (int i = 0; i < kMaxRecordsPerRead; ++i) {
    if (proto_chan_read_output(&channel_, &read_cmd_, 1) != 1) break;
    // A frame cut by a slice boundary goes on in the next slice of the same
    // read: only the read's own end can leave a frame incomplete.
    if (read_cmd_.cmdStatus == CONVERT_NOT_ENOUGHT_RAW_DATA && !last_slice) continue;
    if (read_cmd_.cmdStatus == 0) {
      // A fresh packet each time: no payload of an earlier record can stay behind.
      packet_ = VORKGW::ProtoVorkPacket();
      if (ProtoVorkEncodeASN(read_cmd_, packet_)) packets_.set_packets().push_back(packet_);
    } else if (debug) {
      std::clog << "vorkgw: error unpacked message = " << std::hex << read_cmd_.msgID << std::dec << " status = '"
                << status_name(read_cmd_.cmdStatus) << "'(" << read_cmd_.cmdStatus << ")" << std::endl;
    }
  }
}

void ProtoVorkUartCtl::Read() {
  if (!port_.is_valid()) return;
  unsigned char buf[kReadSize];
  ssize_t n = ::read(port_.lowlevel_fd(), buf, sizeof buf);
  last_read_ = n;
  if (n <= 0) return;
  packets_.set_packets().clear();
  for (ssize_t off = 0; off < n; off += kFeedSlice) {
    int len = static_cast<int>(n - off < kFeedSlice ? n - off : kFeedSlice);
    proto_chan_write_input(&channel_, buf + off, len);
    Drain(off + len == n);
  }
  if (!packets_.get_packets().empty() && listener) listener->ProtoVorkNotify(packets_);
}

void ProtoVorkUartCtl::Write(const VORKGW::ProtoVorkPackets& packets) {
  const auto& list = packets.get_packets();
  for (auto it = list.begin(); it != list.end(); ++it) Write(*it);
}

void ProtoVorkUartCtl::LogDump(const char* what, unsigned id) {
  char dump[kDumpSize];
  sprintf_data_cmd(dump, sizeof dump, &write_cmd_, PROTO_DUMP_STATUS);
  std::clog << what << std::hex << id << std::dec << std::endl << "Proto=" << dump << std::endl;
}

bool ProtoVorkUartCtl::WriteAll(const unsigned char* data, int count) {
  // The port is non-blocking. A full line or an interrupted call fails the
  // write at once; but a frame cut short would corrupt the line, so once
  // part of it has gone out wait (briefly) for room until the whole frame is out.
  int done = 0;
  int waited = 0;
  while (done < count) {
    ssize_t w = ::write(port_.lowlevel_fd(), data + done, static_cast<size_t>(count - done));
    if (w > 0) {
      done += static_cast<int>(w);
      continue;
    }
    if (w < 0 && errno == EINTR && done > 0) continue;
    if (w < 0 && errno == EAGAIN && done > 0 && waited < 1000) {
      struct pollfd p = {port_.lowlevel_fd(), POLLOUT, 0};
      ::poll(&p, 1, 100);
      waited += 100;
      continue;
    }
    return false;
  }
  return true;
}

void ProtoVorkUartCtl::Write(const VORKGW::ProtoVorkPacket& packet) {
  std::memset(&write_cmd_, 0, sizeof write_cmd_);
  if (!ProtoVorkDecodeASN(packet, write_cmd_)) {
    if (debug) LogDump("vorkgw: error decode asn for msgID  = ", static_cast<unsigned>(packet.get_msgID().asInt()));
    return;
  }
  proto_chan_write_output(&channel_, &write_cmd_, 1);
  unsigned char out[kWriteSize];
  int n = proto_chan_read_input(&channel_, out, sizeof out);
  if (n <= 0) {
    if (debug) LogDump("vorkgw: error packed message for msgID  = ", write_cmd_.msgID);
    return;
  }
  if (!port_.is_valid() || !WriteAll(out, n)) {
    int err = port_.is_valid() ? errno : EBADF;
    if (debug) std::clog << "vorkgw: TTY write error = " << err << std::endl;
  }
  if (proto_chan_read_written_output(&channel_, &read_cmd_, 1) != 1 || read_cmd_.cmdStatus != 0) {
    if (debug) {
      int status = read_cmd_.cmdStatus;
      std::clog << "vorkgw: error valid packed message for msgID  = " << std::hex << write_cmd_.msgID << std::dec
                << " status = '" << status_name(status) << "'(" << status << ")" << std::endl;
    }
  }
}
