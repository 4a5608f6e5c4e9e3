#pragma once
// What several users of the board's devices share: the device paths, the
// names of the voice codecs, the argument records of the RTP offload driver
// ("/dev/rtp") and of its radio extension ("/dev/rtp_ext") with their
// printers and big-endian layouts, the RTP error texts, and the reading
// of the DSP devices' event records.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

// Device paths as the board names them (resolve under the root folder or
// open through the board seam).
const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetRtpExtDevName();
const char* GetModemDevName();
const char* GetMaintenance();
const char* GetSpiTdmDevName();

// Name of a voice codec number; "invalid" outside 0..8.
const char* GetCodecAsStr(int codec);

// Begin-session record of "/dev/rtp" (36 bytes on the wire).
struct rtp_connection_params {
  uint32_t dhost_addr = 0;  // remote IPv4 address, network order as a number (a.b.c.d = 0xaabbccdd)
  uint16_t dhost_port = 0;
  uint32_t shost_addr = 0;  // local IPv4 address; 0 when none
  uint16_t shost_port = 0;
  uint16_t rx_pt = 0;
  uint16_t tx_pt = 0;
  uint16_t packet_factor = 0;
  uint8_t vad = 0;
  uint8_t crate = 0;
  uint32_t ssrc = 0;

  static constexpr std::size_t kSize = 36;
  void encode(uint8_t* out) const;         // kSize bytes, big-endian
  void decode(const uint8_t* in);
};

// Add-channel record (12 bytes): in, tdm to reuse or -1; out, the session's
// multiplexer channel and the driver's device and channel numbers.
struct rtp_channel_info {
  int32_t tdm = -1;
  int32_t dev_no = -1;
  int32_t chn = -1;

  static constexpr std::size_t kSize = 12;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

// An open "/dev/rtp" session named by its descriptor and holder (8 bytes).
struct rtp_attach_session_params {
  int32_t fd_rtp = 0;
  int32_t pid_rtp = 0;

  static constexpr std::size_t kSize = 8;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

struct rtp_ext_attach_session_params {
  int32_t fd_rtp = 0;
  int32_t pid_rtp = 0;

  static constexpr std::size_t kSize = 8;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

struct rtp_ext_init_params {
  uint16_t etype = 0;

  static constexpr std::size_t kSize = 2;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

std::ostream& operator<<(std::ostream& o, const rtp_connection_params& p);
std::ostream& operator<<(std::ostream& o, const rtp_channel_info& p);
std::ostream& operator<<(std::ostream& o, const rtp_attach_session_params& p);
std::ostream& operator<<(std::ostream& o, const rtp_ext_attach_session_params& p);
std::ostream& operator<<(std::ostream& o, const rtp_ext_init_params& p);

// An RTP failure: the errno at the time it was made and the library's code.
class RtpErr {
 public:
  explicit RtpErr(int code);
  void Put(std::ostream& o) const;  // the errno text; the code is not printed
  int error() const { return errno_; }
  int code() const { return code_; }

 private:
  int32_t errno_;
  int32_t code_;
};

std::ostream& operator<<(std::ostream& o, const RtpErr& e);

// Text of an RTP library error code. Unknown codes are formatted into one
// static buffer, which the next unknown code overwrites.
const char* RTPStrError(int code);

namespace Hardware {

// The tail of a failure line: errno="<text>".
struct ErrTail {
  int err;
};
std::ostream& operator<<(std::ostream& os, ErrTail t);

// One read of a fixed-size event record: a whole record; nothing more for
// now (would block, a failure or a short record); or an empty read on a
// descriptor that hung up, the end of the device.
enum class RecordRead { Record, Stop, HungUp };

// Reads one record of `size` bytes from fd; failures, a short record and
// the end of the device are logged as "fail to read from <device>: ...".
RecordRead readEventRecord(int fd, short revents, uint8_t* rec, std::size_t size, const char* device);

}  // namespace Hardware
