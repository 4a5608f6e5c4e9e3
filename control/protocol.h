#pragma once
// Layered protocol stacks.
//
// A Protocol is one layer. A ProtocolsList owns an ordered list of layers,
// bottom (wire side) first; a ProtocolsFamily is a list that behaves as one
// layer itself, so a whole stack is driven as one object:
//
//   class Link : private ProtocolsFamily {
//     Link() { add_protocol_tail(new StrmProtocol); add_protocol_tail(new Tpkt_protocol); }
//     void on_message(Packet& p) override;                 // payloads from the top
//     void on_activated(Protocol* p) override;             // the stack is up
//     void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) override;
//   };
//
// Data goes down with message()/transmit() and up with receive()/on_message().
// State changes travel as reference-counted status objects: a successful
// deactivation walks down the stack, a failure climbs up to the owner.
#include <iosfwd>
#include <string>

#include "runtime/loop/dual_list.h"
#include "runtime/packet/packet.h"
#include "runtime/packet/smart_pointer.h"

// ---- layer names -----------------------------------------------------------

class Protocol_name {
 public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual const char* name() const = 0;
  virtual bool compare(const Protocol_name& other) const = 0;

  bool compatible(const Protocol_name& other) const { return kind() == other.kind(); }
  std::ostream& out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const Protocol_name& n);

class Protocol_name_null : public Protocol_name {
 public:
  int kind() const override { return 0; }
  const char* name() const override { return "(no name)"; }
  bool compare(const Protocol_name& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name {
 public:
  explicit Protocol_name_str(const char* text);
  ~Protocol_name_str() override;
  Protocol_name_str(const Protocol_name_str&) = delete;
  Protocol_name_str& operator=(const Protocol_name_str&) = delete;

  int kind() const override { return 1; }
  const char* name() const override { return text_; }
  bool compare(const Protocol_name& other) const override;

 private:
  char* text_;
};

// ---- polymorphic base of every layer ---------------------------------------

class Protocol_info {
 public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(const Protocol_name&) const { return false; }
  virtual const Protocol_name& name() const { return null_name_; }

  std::ostream& out(std::ostream& os) const;

 private:
  Protocol_name_null null_name_;
};

std::ostream& operator<<(std::ostream& os, const Protocol_info& p);

// ---- status objects ---------------------------------------------------------

class Internal_protocol_status : public Smart_object {
 public:
  explicit Internal_protocol_status(const Protocol_info* source) : source_(source) {}
  virtual ~Internal_protocol_status() = default;
  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual std::ostream& out(std::ostream& os) const;

  const Protocol_info* source() const { return source_; }

 private:
  const Protocol_info* source_;
};

typedef Smart_pointer<Internal_protocol_status> ProtocolStatus;

std::ostream& operator<<(std::ostream& os, const Internal_protocol_status& s);

class Protocol_status_success : public Internal_protocol_status {
 public:
  Protocol_status_success(const Protocol_info* source, const std::string& text)
      : Internal_protocol_status(source), text_(text) {}
  bool success() const override { return true; }
  std::string message() const override { return text_; }

 private:
  std::string text_;
};

class Protocol_status_error : public Internal_protocol_status {
 public:
  Protocol_status_error(const Protocol_info* source, const std::string& text)
      : Internal_protocol_status(source), text_(text) {}
  bool success() const override { return false; }
  std::string message() const override { return text_; }

 private:
  std::string text_;
};

class Protocol_initialize_error : public Protocol_status_error {
 public:
  explicit Protocol_initialize_error(const Protocol_info* source) : Protocol_status_error(source, "error") {}
};

// ---- layers -----------------------------------------------------------------

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
 public:
  Protocol() = default;
  ~Protocol() override;
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;

  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual ProtocolStatus local_initialize();
  virtual void local_activate();
  virtual void local_deactivate();
  // Down: hands p to the layer below, else to the owner's transmit.
  virtual void transmit(Packet& p);
  // Up: hands p to the layer above's receive, else to the owner's on_message.
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(ProtocolStatus s);
  virtual void on_status(ProtocolStatus s);
  // Data from above / from below; the defaults drop it.
  virtual void message(Packet& p);
  virtual void receive(Packet& p);
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream& os) const;

  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);
  ProtocolStatus initialize();

  ProtocolsList* owner() const { return owner_; }
  // Neighbours inside the owner's list (toward the wire / away from it).
  Protocol* below() const { return owner_ ? get_prev() : nullptr; }
  Protocol* above() const { return owner_ ? get_next() : nullptr; }

 private:
  friend class ProtocolsList;
  ProtocolsList* owner_ = nullptr;
};

class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
 public:
  ProtocolsList() = default;
  ~ProtocolsList() override;

  virtual void on_activated(Protocol* p);
  virtual void on_deactivated(Protocol* p, ProtocolStatus s);
  virtual Protocol* add_protocol_head(Protocol* p);
  virtual Protocol* add_protocol_tail(Protocol* p);

  Protocol* search(const Protocol_name& name);

  unsigned int member_count() const { return F_dual_list<Protocol>::count(); }
  Protocol* bottom_member() const { return first_item(); }
  Protocol* top_member() const { return last_item(); }

 private:
  friend class Protocol;
  void unlink_member(Protocol* p) { F_dual_list<Protocol>::remove(p); }
};

class ProtocolsFamily : public ProtocolsList {
 public:
  ProtocolsFamily() = default;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  ProtocolStatus local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, ProtocolStatus s) override;
};
