#include "runtime/packet/packet.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

// ------------------------------------------------------------------ pool

namespace {
// Raw static storage for the cells: no constructor runs over it at start-up,
// and a cell is built in place when it is first handed out, so untouched
// cells cost no resident memory.
alignas(PacketPool::List_storage) unsigned char packet_cells[sizeof(PacketPool::List_storage) * packet_max_count];
}  // namespace

template <class T, unsigned int N, class Lock>
typename List_allocator<T, N, Lock>::List_storage* List_allocator<T, N, Lock>::blocks() {
  return reinterpret_cast<List_storage*>(packet_cells);
}
template <class T, unsigned int N, class Lock>
F_dual_list<typename List_allocator<T, N, Lock>::List_storage> List_allocator<T, N, Lock>::free_list;
template <class T, unsigned int N, class Lock>
unsigned int List_allocator<T, N, Lock>::fresh = 0;
template <class T, unsigned int N, class Lock>
Lock List_allocator<T, N, Lock>::crit_section;

template <class T, unsigned int N, class Lock>
T* List_allocator<T, N, Lock>::allocate() {
  crit_section.lock();
  // Cells never handed out stand, in array order, before every freed one.
  List_storage* cell = fresh < N ? new (&blocks()[fresh++]) List_storage : free_list.remove_from_head();
  crit_section.unlock();
  return cell ? reinterpret_cast<T*>(cell->object) : nullptr;
}

template <class T, unsigned int N, class Lock>
void List_allocator<T, N, Lock>::deallocate(T* p) {
  int i = index_of(p);
  if (i < 0) return;
  crit_section.lock();
  // To the tail: cells are reused first freed, first reused.
  free_list.insert_to_tail(&blocks()[i]);
  crit_section.unlock();
}

template <class T, unsigned int N, class Lock>
unsigned int List_allocator<T, N, Lock>::free_count() {
  return free_list.count() + (N - fresh);
}

template <class T, unsigned int N, class Lock>
int List_allocator<T, N, Lock>::index_of(const T* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(blocks());
  const unsigned char* q = reinterpret_cast<const unsigned char*>(p);
  if (q < b || q >= b + sizeof(List_storage) * N) return -1;
  return static_cast<int>((q - b) / sizeof(List_storage));
}

template class List_allocator<_Packet, packet_max_count, Dummy_critical_section>;

void* _Packet::operator new(std::size_t) {
  _Packet* p = PacketPool::allocate();
  if (!p) throw std::bad_alloc();
  return p;
}

void _Packet::operator delete(void* p) { PacketPool::deallocate(static_cast<_Packet*>(p)); }

_Packet::_Packet(const _Packet& o) : Smart_object() {
  std::size_t head = static_cast<std::size_t>(o.fdata - o.buffer);
  std::size_t len = static_cast<std::size_t>(o.ftail - o.fdata);
  fdata = buffer + head;
  ftail = fdata + len;
  std::memcpy(fdata, o.fdata, len);
}

[[noreturn]] void SmartPtrAssertion() {
  std::clog << "SMART POINTER ASSERTION!" << std::endl;
  std::terminate();
}

// --------------------------------------------------------------- Packet

bool Packet::pointers_valid() const {
  const _Packet* p = get();
  return p && p->begin() <= p->fdata && p->fdata <= p->ftail && p->ftail <= p->end();
}

PacketInfo Packet::info() const {
  PacketInfo i;
  const _Packet* p = get();
  if (!p) return i;
  i.null = false;
  i.head = static_cast<unsigned int>(p->fdata - p->begin());
  i.length = static_cast<unsigned int>(p->ftail - p->fdata);
  i.tail = static_cast<unsigned int>(p->end() - p->ftail);
  i.valid = pointers_valid();
  if (i.valid) i.bytes.assign(reinterpret_cast<const char*>(p->fdata), i.length);
  return i;
}

void Packet::passert(bool cond, const char* text) const {
  if (cond) return;
  PacketInfo i = info();
  std::clog << "PACKET ASSERTION FAILED!" << std::endl;
  std::clog << text << std::endl;
  if (i.null) {
    std::clog << "(null)" << std::endl;
  } else {
    std::clog << "head=" << i.head << ", " << "data=" << i.length << ", " << "tail=" << i.tail << std::endl;
    if (!i.valid) {
      std::clog << "can't dump packet: wrong pointers" << std::endl;
    } else if (i.length) {
      std::clog << "dump:" << std::endl;
      std::ios_base::fmtflags f = std::clog.flags();
      std::clog << std::hex;
      for (unsigned char c : i.bytes) std::clog << " " << static_cast<unsigned int>(c);
      std::clog.flags(f);
      std::clog << std::endl;
    }
  }
  std::clog << std::endl;
  std::terminate();
}

void Packet::check(const char* op) const {
  char text[128];
  const _Packet* p = get();
  if (!p)
    std::snprintf(text, sizeof text, "after \"%s\" packet is null", op);
  else if (p->fdata < p->begin() || p->fdata > p->end())
    std::snprintf(text, sizeof text, "after \"%s\" fdata invalid", op);
  else if (p->ftail < p->begin() || p->ftail > p->end())
    std::snprintf(text, sizeof text, "after \"%s\" ftail invalid", op);
  else if (p->fdata > p->ftail)
    std::snprintf(text, sizeof text, "after \"%s\" fdata>ftail", op);
  else
    return;
  std::clog << "packet check fail" << std::endl << text << std::endl << "term" << std::endl;
  std::terminate();
}

unsigned int Packet::_length() const {
  const _Packet* p = Smart_pointer<_Packet>::operator->();
  return static_cast<unsigned int>(p->ftail - p->fdata);
}

unsigned int Packet::_headroom() const {
  const _Packet* p = Smart_pointer<_Packet>::operator->();
  return static_cast<unsigned int>(p->fdata - p->begin());
}

unsigned int Packet::_tailroom() const {
  const _Packet* p = Smart_pointer<_Packet>::operator->();
  return static_cast<unsigned int>(p->end() - p->ftail);
}

unsigned int Packet::tailroom() {
  passert(!null(), "null packet");
  return _tailroom();
}

unsigned char* Packet::data() {
  passert(!null(), "null packet");
  return (*this)->fdata;
}

const unsigned char* Packet::data() const {
  passert(!null(), "null packet");
  return get()->fdata;
}

unsigned char* Packet::tail() {
  passert(!null(), "null packet");
  return (*this)->ftail;
}

void Packet::reserve_head(unsigned int n) {
  passert(n <= packet_max_size, "length>packet_max_size");
  if (null()) {
    _Packet* p = new _Packet;
    passert(p != nullptr, "allocation fail");
    p->fdata = p->ftail = p->begin() + n;
    Smart_pointer<_Packet>::operator=(p);
    return;
  }
  passert(_headroom() + n <= packet_max_size, "new_len>packet_max_size");
  _Packet* p = (*this).operator->();
  // Moving the window toward the end must keep it inside the buffer.
  unsigned int len = static_cast<unsigned int>(p->ftail - p->fdata);
  unsigned int head = static_cast<unsigned int>(p->fdata - p->begin()) + n;
  if (head + len > packet_max_size) len = packet_max_size - head;
  p->fdata = p->begin() + head;
  p->ftail = p->fdata + len;
}

void Packet::reserve_tail(unsigned int n) {
  passert(n <= packet_max_size, "len>packet_max_size");
  if (null()) {
    _Packet* p = new _Packet;
    passert(p != nullptr, "allocation fail");
    p->fdata = p->ftail = p->end() - n;
    Smart_pointer<_Packet>::operator=(p);
    return;
  }
  passert(_tailroom() + n <= packet_max_size, "_tailroom()+len <= packet_max_size");
  _Packet* p = (*this).operator->();
  unsigned int len = static_cast<unsigned int>(p->ftail - p->fdata);
  unsigned int tail = static_cast<unsigned int>(p->end() - p->ftail) + n;
  if (tail + len > packet_max_size) len = packet_max_size - tail;
  p->ftail = p->end() - tail;
  p->fdata = p->ftail - len;
}

unsigned char* Packet::push(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _headroom(), "len<=_headroom()");
  _Packet* p = (*this).operator->();
  p->fdata -= n;
  check("push");
  return p->fdata;
}

void Packet::push8(std::uint8_t b) {
  passert(!null(), "null packet");
  *push(1) = b;
}

void Packet::push16_b(std::uint16_t v) {
  passert(!null(), "null packet");
  push8(static_cast<std::uint8_t>(v & 0xFF));
  push8(static_cast<std::uint8_t>(v >> 8));
}

unsigned char* Packet::put(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _tailroom(), "len<=_tailroom()");
  _Packet* p = (*this).operator->();
  unsigned char* old = p->ftail;
  p->ftail += n;
  check("put");
  return old;
}

void Packet::put8(std::uint8_t b) {
  passert(!null(), "null packet");
  *put(1) = b;
}

void Packet::put16(std::uint16_t v) {
  put8(static_cast<std::uint8_t>(v & 0xFF));
  put8(static_cast<std::uint8_t>(v >> 8));
}

void Packet::put16_b(std::uint16_t v) {
  put8(static_cast<std::uint8_t>(v >> 8));
  put8(static_cast<std::uint8_t>(v & 0xFF));
}

unsigned int Packet::put(const Packet& src) {
  passert(!null(), "null packet");
  // Copy first: src may share this packet's buffer.
  std::string bytes;
  unsigned int n = src.length();
  if (n) bytes.assign(reinterpret_cast<const char*>(src.get()->fdata), n);
  for (unsigned char c : bytes) put8(c);
  return n;
}

unsigned int Packet::put(const std::string& s) {
  put8(static_cast<std::uint8_t>(s.size() & 0xFF));
  for (unsigned char c : s) put8(c);
  return static_cast<unsigned int>(s.size());
}

unsigned char* Packet::pull(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet* p = (*this).operator->();
  unsigned char* old = p->fdata;
  p->fdata += n;
  return old;
}

std::uint8_t Packet::pull8() {
  passert(!null(), "null packet");
  if (empty()) return 0;
  return *pull(1);
}

std::uint16_t Packet::pull16_l() {
  std::uint16_t lo = pull8();
  std::uint16_t hi = pull8();
  return static_cast<std::uint16_t>(lo | (hi << 8));
}

std::uint16_t Packet::pull16_b() {
  std::uint16_t hi = pull8();
  std::uint16_t lo = pull8();
  return static_cast<std::uint16_t>((hi << 8) | lo);
}

std::string Packet::pull_string() {
  unsigned int n = pull8();
  if (n > length()) n = length();  // a short string gives what is there
  if (n == 0) return std::string();
  const unsigned char* b = pull(n);
  return std::string(reinterpret_cast<const char*>(b), n);
}

unsigned char* Packet::trim(unsigned int n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet* p = (*this).operator->();
  p->ftail -= n;
  check("trim");
  return p->ftail;
}

unsigned char& Packet::operator[](int i) {
  passert(!null(), "null packet");
  passert(i >= 0 && static_cast<unsigned int>(i) < _length(), "index out of range");
  return (*this)->fdata[i];
}

const unsigned char& Packet::operator[](int i) const {
  passert(!null(), "null packet");
  passert(i >= 0 && static_cast<unsigned int>(i) < _length(), "index out of range");
  return get()->fdata[i];
}

Packet Packet::sub(unsigned int start, unsigned int len) const {
  passert(!null(), "null packet");
  passert(start <= _length(), "start<=_length()");
  passert(start + len <= _length(), "start+len<=_length()");
  Packet r;
  r.reserve_head(_headroom() + start);
  std::memcpy(r.put(len), get()->fdata + start, len);
  return r;
}

std::string Packet::text() const {
  if (null()) return "(null)";
  if (!pointers_valid()) return "(bad)";
  std::string s;
  char b[4];
  for (const unsigned char* p = get()->fdata; p < get()->ftail; ++p) {
    std::snprintf(b, sizeof b, "%02X", *p);
    if (!s.empty()) s += ' ';
    s += b;
  }
  return s;
}

bool Packet::dump(std::ostream& os) const {
  if (null()) return false;
  os << "head=" << _headroom() << ", " << "data=" << _length() << ", " << "tail=" << _tailroom();
  return true;
}

bool Packet::dump_context(std::ostream& os) const {
  if (null() || !pointers_valid()) return false;
  os.width(2);
  if (empty()) return true;
  std::ios_base::fmtflags f = os.flags();
  os << "dump:" << std::hex;
  for (const unsigned char* p = get()->fdata; p < get()->ftail; ++p) os << " " << static_cast<unsigned int>(*p);
  os.flags(f);
  return true;
}

std::ostream& operator<<(std::ostream& os, const Packet& p) { return os << p.text(); }
