#pragma once
// RTCP packets (RFC 3550) that an RTP session sends itself: one source
// description (SDES) when it starts and one goodbye (BYE) when it ends.
// The messages encode into a caller's buffer; nothing here parses RTCP.
#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

// One RTCP packet: a 4-byte header (version 2, no padding, the count, the
// packet type and the length in words minus one) and a body written by the
// concrete message, starting with the SSRC it speaks for.
class Msg {
 public:
  explicit Msg(unsigned int ssrc) : ssrc_(ssrc) {}
  virtual ~Msg();

  virtual std::uint8_t pt() const = 0;
  // The 5-bit count field of the header.
  virtual unsigned int count() const = 0;
  // Writes everything after the header into at most `room` bytes and
  // returns its length, a multiple of 4; 0 when nothing could be written.
  virtual unsigned int encode_body(char* p, unsigned int room) const = 0;

  // Writes the whole packet at the start of `buffer` (never more than
  // `size` bytes) and returns its length, or 0 when nothing was written.
  unsigned int encode(char* buffer, unsigned int size) const;

  unsigned int ssrc() const { return ssrc_; }

 protected:
  unsigned int ssrc_;
};

// Source description with one chunk: the SSRC and its items in the order
// they were added.
class SDES : public Msg {
 public:
  class Item {
   public:
    // RFC 3550 item type numbers.
    enum Type : std::uint8_t { CNAME = 1, EMAIL = 3, PHONE = 4 };

    Item(Type type, const std::string& text) : type_(type), text_(text) {}
    Type type() const { return type_; }
    const std::string& text() const { return text_; }

   private:
    Type type_;
    std::string text_;
  };

  static constexpr std::uint8_t kType = 202;

  explicit SDES(unsigned int ssrc) : Msg(ssrc) {}

  void add(Item::Type type, const std::string& text) { items_.emplace_back(type, text); }
  const std::vector<Item>& items() const { return items_; }

  std::uint8_t pt() const override { return kType; }
  unsigned int count() const override { return 1; }
  unsigned int encode_body(char* p, unsigned int room) const override;

 private:
  std::vector<Item> items_;
};

// Goodbye for one source, with an optional reason text.
class BYE : public Msg {
 public:
  static constexpr std::uint8_t kType = 203;

  BYE(unsigned int ssrc, const std::string& reason) : Msg(ssrc), reason_(reason) {}

  const std::string& reason() const { return reason_; }

  std::uint8_t pt() const override { return kType; }
  unsigned int count() const override { return 1; }
  unsigned int encode_body(char* p, unsigned int room) const override;

 private:
  std::string reason_;
};

}  // namespace RTPC
