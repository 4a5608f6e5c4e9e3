#include "control/protocol.h"

#include <cstring>
#include <ostream>

// ---- names ------------------------------------------------------------------

std::ostream& Protocol_name::out(std::ostream& os) const { return os << name(); }

std::ostream& operator<<(std::ostream& os, const Protocol_name& n) { return n.out(os); }

Protocol_name_str::Protocol_name_str(const char* text) {
  if (!text) text = "(no name)";
  size_t len = std::strlen(text);
  text_ = new char[len + 1];
  std::memcpy(text_, text, len + 1);
}

Protocol_name_str::~Protocol_name_str() { delete[] text_; }

bool Protocol_name_str::compare(const Protocol_name& other) const {
  return compatible(other) && std::strcmp(text_, other.name()) == 0;
}

std::ostream& Protocol_info::out(std::ostream& os) const { return os << name().name(); }

std::ostream& operator<<(std::ostream& os, const Protocol_info& p) { return p.out(os); }

std::ostream& Internal_protocol_status::out(std::ostream& os) const { return os << message(); }

std::ostream& operator<<(std::ostream& os, const Internal_protocol_status& s) { return s.out(os); }

// ---- Protocol ---------------------------------------------------------------

Protocol::~Protocol() {
  if (owner_) {
    owner_->unlink_member(this);
    owner_ = nullptr;
  }
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }
void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

ProtocolStatus Protocol::local_initialize() { return ProtocolStatus(new Protocol_status_success(this, "success")); }

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() { on_deactivate(ProtocolStatus(new Protocol_status_success(this, "success"))); }

void Protocol::transmit(Packet& p) {
  if (Protocol* b = below())
    b->message(p);
  else if (owner_)
    owner_->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (Protocol* a = above())
    a->receive(p);
  else if (owner_)
    owner_->on_message(p);
}

void Protocol::on_activate() {
  if (Protocol* a = above())
    a->local_activate();
  else if (owner_)
    owner_->on_activated(this);
}

void Protocol::on_deactivate(ProtocolStatus s) {
  if (s->success()) {
    if (Protocol* b = below())
      b->deactivate();
    else if (owner_)
      owner_->on_deactivated(this, s);
  } else {
    if (Protocol* a = above())
      a->on_deactivate(s);
    else if (owner_)
      owner_->on_deactivated(this, s);
  }
}

void Protocol::on_status(ProtocolStatus s) {
  if (Protocol* a = above())
    a->on_status(s);
  else if (owner_)
    owner_->on_status(s);
}

void Protocol::message(Packet&) {}
void Protocol::receive(Packet&) {}

void Protocol::activate() {
  if (Protocol* b = below())
    b->activate();
  else
    local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::protocol_info(std::ostream&) const {}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
  if (Protocol* b = below()) b->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (Protocol* b = below()) b->prepare_tail(p);
}

ProtocolStatus Protocol::initialize() {
  if (Protocol* b = below()) {
    ProtocolStatus s = b->initialize();
    if (!s->success()) return s;
  }
  return local_initialize();
}

// ---- ProtocolsList ----------------------------------------------------------

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = remove_from_tail()) {
    p->owner_ = nullptr;
    delete p;
  }
}

void ProtocolsList::on_activated(Protocol*) {}
void ProtocolsList::on_deactivated(Protocol*, ProtocolStatus) {}

Protocol* ProtocolsList::add_protocol_head(Protocol* p) {
  insert_to_head(p);
  p->owner_ = this;
  return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p) {
  insert_to_tail(p);
  p->owner_ = this;
  return p;
}

Protocol* ProtocolsList::search(const Protocol_name& name) {
  for (F_dual_list<Protocol>::iterator it = begin(); it.good(); ++it)
    if (it->compare_name(name)) return *it;
  return nullptr;
}

// ---- ProtocolsFamily --------------------------------------------------------

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* t = top_member()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* t = top_member()) t->prepare_tail(p);
}

ProtocolStatus ProtocolsFamily::local_initialize() {
  if (Protocol* t = top_member()) return t->initialize();
  return ProtocolStatus(new Protocol_initialize_error(this));
}

void ProtocolsFamily::local_activate() {
  if (Protocol* t = top_member()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* t = top_member()) t->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (Protocol* t = top_member()) t->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (Protocol* b = bottom_member()) b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p && p == top_member()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, ProtocolStatus s) {
  if (top_member()) on_deactivate(s);
}
