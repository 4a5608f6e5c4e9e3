#include "slots/modem_auth.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hardware/board/record.h"
#include "slots/modem_factory.h"

attr::attr(uint32_t length, uint32_t type, int32_t session) {
  setWord(0, std::min<uint32_t>(length, kMax));
  setWord(4, type);
  setWord(8, uint32_t(session));
}

uint32_t attr::word(std::size_t offset) const { return offset + 4 <= kMax ? Board::getBE32(bytes_ + offset) : 0; }

void attr::setWord(std::size_t offset, uint32_t value) {
  if (offset + 4 <= kMax) Board::putBE32(bytes_ + offset, value);
}

std::string attr::text(std::size_t offset, std::size_t size) const {
  if (offset >= kMax) return {};
  size = std::min(size, kMax - offset);
  const char* p = reinterpret_cast<const char*>(bytes_ + offset);
  return std::string(p, ::strnlen(p, size));
}

void attr::setText(std::size_t offset, std::size_t size, const std::string& value) {
  if (offset >= kMax || size == 0) return;
  size = std::min(size, kMax - offset);
  std::memset(bytes_ + offset, 0, size);
  std::memcpy(bytes_ + offset, value.data(), std::min(value.size(), size - 1));
}

AuthClient::AuthClient(Fd fd, const INet4::Addr& addr, ModemFactory& factory)
    : mFd(std::move(fd)), mAddr(addr), mFactory(factory) {}

bool AuthClient::Activate() {
  mEvent.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
  mEvent.Schedule(mFd, POLLIN);
  return mEvent.IsActive();
}

void AuthClient::OnDisconnect() {
  mFd.close();
  mEvent.Release();
}

void AuthClient::CheckDisconnect() {
  if (!mFd.is_valid()) mFactory.OnAuthSocketDisconnect(this);  // deletes this
}

void AuthClient::OnSocketEvent(int, short events) {
  if (!(events & (POLLIN | POLLERR | POLLHUP | POLLNVAL))) return;
  RecursiveGuard guard(*this);
  // Records the peer wrote before it hung up are read first; the read then
  // meets the end of the stream (or the error) and disconnects.
  if (events & POLLIN) Receive();
  else OnDisconnect();
}

void AuthClient::Receive() {
  while (mFd.is_valid()) {
    ssize_t n = ::read(mFd.lowlevel_fd(), mBuffer.data() + mFill, mWanted - mFill);
    // Only EAGAIN waits for the next input event; any other failure (EINTR
    // included) disconnects.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      OnDisconnect();
      return;
    }
    mFill += std::size_t(n);
    if (mFill < mWanted) continue;
    const uint32_t length = mBuffer.length();
    if (length > attr::kMax || length < attr::kMin) {
      OnDisconnect();
      return;
    }
    if (mFill >= length) {
      // A whole record: hand over a copy, so the buffer is free for the
      // next one even if the handler sends or disconnects.
      attr record = mBuffer;
      std::memset(record.data() + length, 0, attr::kMax - length);
      mFill = 0;
      mWanted = 4;
      // A record too short for a session field says nothing about the
      // session: it is dropped and the connection keeps its session.
      if (length < attr::kHeader) continue;
      mSession = record.session();
      mFactory.OnAuth(&record);
    } else {
      mWanted = length;
    }
  }
}

bool AuthClient::Send(const attr* record) {
  if (!mFd.is_valid()) return false;
  RecursiveGuard guard(*this);
  const std::size_t length = std::min<std::size_t>(record->length(), attr::kMax);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::send(mFd.lowlevel_fd(), record->data() + done, length - done, MSG_NOSIGNAL);
    // Zero or a failure of any kind (EAGAIN and EINTR included) disconnects.
    if (n <= 0) {
      OnDisconnect();
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}
