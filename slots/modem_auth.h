#pragma once
// The auth record link between the gateway and the PPP daemon's
// authentication plug-in: length-prefixed big-endian records over TCP on
// 127.0.0.1 port 52000, one AuthClient per plug-in connection. Records
// carry the modem number of their slot as the session; the modem factory
// routes them by it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/loop/event.h"
#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"

class ModemFactory;

// One auth record: 32-bit big-endian words, the first the whole length.
class attr {
 public:
  static constexpr std::size_t kMin = 4;
  static constexpr std::size_t kMax = 512;
  // The header every meaningful record has: length, type, session.
  static constexpr std::size_t kHeader = 12;

  enum Type : uint32_t { AuthRequest = 1, Accept = 2, IpParams = 3, Accounting = 4 };
  // Sizes of the typed records.
  static constexpr uint32_t kAuthRequestSize = 140;
  static constexpr uint32_t kAcceptSize = 16;
  static constexpr uint32_t kIpParamsSize = 36;
  static constexpr uint32_t kAccountingSize = 64;
  // Name and password fields of an auth request.
  static constexpr std::size_t kUserOffset = 12;
  static constexpr std::size_t kPasswordOffset = 76;
  static constexpr std::size_t kTextField = 64;

  attr() = default;
  // A record of `length` zero bytes (at most kMax) with its header set.
  attr(uint32_t length, uint32_t type, int32_t session);

  uint32_t length() const { return word(0); }
  uint32_t type() const { return word(4); }
  int32_t session() const { return int32_t(word(8)); }
  // The 32-bit word at a byte offset; 0 beyond the buffer.
  uint32_t word(std::size_t offset) const;
  void setWord(std::size_t offset, uint32_t value);
  // The 64-bit value at a byte offset, high word first.
  uint64_t word64(std::size_t offset) const { return uint64_t(word(offset)) << 32 | word(offset + 4); }
  // A NUL-terminated text of at most `size` bytes at a byte offset; a field
  // without its NUL ends at its size.
  std::string text(std::size_t offset, std::size_t size) const;
  void setText(std::size_t offset, std::size_t size, const std::string& value);

  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }

 private:
  uint8_t bytes_[kMax] = {};
};

// One accepted plug-in connection: reads records and hands them to the
// factory; sends the gateway's records for its session.
class AuthClient {
 public:
  AuthClient(Fd fd, const INet4::Addr& addr, ModemFactory& factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  // Registers the connection for input; false when the watch's duplicate
  // cannot be had (errno tells why).
  bool Activate();
  // Writes one record whole; false (and the connection closed) when it
  // cannot.
  bool Send(const attr* record);
  // Closes the connection; it is deleted once no operation of its own is
  // under way.
  void OnDisconnect();

  const INet4::Addr& GetAddr() const { return mAddr; }
  // The session of the last complete record received; -1 before any.
  int GetSessionId() const { return mSession; }
  bool IsOpen() const { return mFd.is_valid(); }

 private:
  friend class ModemFactory;
  void OnSocketEvent(int fd, short events);
  // Deletes the connection through the factory when it is closed and no
  // operation of its own is under way.
  void CheckDisconnect();
  void Receive();

  // Raises the recursion level for the lifetime of one operation.
  struct RecursiveGuard {
    explicit RecursiveGuard(AuthClient& c) : c(c) { ++c.mRecursionLevel; }
    ~RecursiveGuard() {
      if (--c.mRecursionLevel == 0) c.CheckDisconnect();
    }
    AuthClient& c;
  };

  Fd mFd;
  INet4::Addr mAddr;
  ModemFactory& mFactory;
  Event mEvent;
  attr mBuffer;
  std::size_t mFill = 0;
  std::size_t mWanted = 4;
  int mSession = -1;
  int mRecursionLevel = 0;
};
