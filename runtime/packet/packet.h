#pragma once
// Pooled packet buffers. A Packet is a reference-counted, copy-on-write
// handle to one 4096-byte buffer with a movable data window (head room
// before it, tail room after it), taken from a fixed pool of 1024 buffers.
// An empty pool throws std::bad_alloc; a broken precondition prints
// "PACKET ASSERTION FAILED!" on the log stream and terminates.
//
//   Packet p;
//   p.reserve_head(4);              // head room for the layers below
//   memcpy(p.put(n), payload, n);   // payload at the tail
//   p.push16_b(len);                // headers pushed in front
#include <cstdint>
#include <iosfwd>
#include <string>

#include "runtime/loop/dual_list.h"
#include "runtime/packet/smart_pointer.h"

const unsigned int packet_max_size = 4096;
const unsigned int packet_max_count = 1024;

class _Packet : public Smart_object {
 public:
  _Packet() : fdata(buffer + packet_max_size), ftail(buffer + packet_max_size) {}
  // Same head room and length; copies the window's bytes only.
  _Packet(const _Packet& o);
  _Packet& operator=(const _Packet&) = delete;

  static void* operator new(std::size_t size);
  static void operator delete(void* p);

  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char buffer[packet_max_size];

  unsigned char* begin() { return buffer; }
  unsigned char* end() { return buffer + packet_max_size; }
  const unsigned char* begin() const { return buffer; }
  const unsigned char* end() const { return buffer + packet_max_size; }
};

template <>
struct Smart_copy_on_write<_Packet> : std::true_type {};

struct Dummy_critical_section {
  void lock() {}
  void unlock() {}
};

// The fixed pool: a static array of cells and the list of the free ones,
// all of them at the start in array order. A cell is taken from the head
// and a freed cell appended to the tail, so cells are reused first freed,
// first reused. The cells not yet handed out are the head of that list;
// they are kept as a bump index rather than linked, so that a cell's
// memory becomes resident only when it is first taken. Never torn down, so
// packets held by static objects of any unit may be released at exit.
template <class T, unsigned int N, class Lock>
class List_allocator {
 public:
  struct List_storage : F_dual_list_item<List_storage> {
    alignas(T) unsigned char object[sizeof(T)];
  };

  static T* allocate();
  static void deallocate(T* p);
  static unsigned int free_count();
  // The cell index of an object (tests and diagnostics).
  static int index_of(const T* p);
  // Cells taken at least once (their memory is resident).
  static unsigned int touched() { return fresh; }

 private:
  static List_storage* blocks();
  static F_dual_list<List_storage> free_list;
  static unsigned int fresh;  // cells [fresh, N) were never handed out
  static Lock crit_section;
};

typedef List_allocator<_Packet, packet_max_count, Dummy_critical_section> PacketPool;

struct PacketInfo {
  bool null = true;
  unsigned int head = 0;
  unsigned int length = 0;
  unsigned int tail = 0;
  bool valid = true;
  std::string bytes;
};

class Packet : public Smart_pointer<_Packet> {
 public:
  Packet() = default;
  Packet(const Packet&) = default;
  Packet& operator=(const Packet&) = default;

  void clear() { clean(); }
  unsigned int length() const { return null() ? 0u : static_cast<unsigned int>(get()->ftail - get()->fdata); }
  bool empty() const { return length() == 0; }
  bool operator<(unsigned int n) const { return length() < n; }

  unsigned int _length() const;
  unsigned int _headroom() const;
  unsigned int _tailroom() const;
  unsigned int tailroom();
  unsigned int headroom() const { return null() ? 0u : _headroom(); }

  unsigned char* data();
  unsigned char* tail();
  const unsigned char* data() const;

  void reserve_head(unsigned int n);
  void reserve_tail(unsigned int n);

  unsigned char* push(unsigned int n);
  void push8(std::uint8_t b);
  void push16_b(std::uint16_t v);

  unsigned char* put(unsigned int n);
  void put8(std::uint8_t b);
  void put16(std::uint16_t v);
  void put16_b(std::uint16_t v);
  unsigned int put(const Packet& p);
  unsigned int put(const std::string& s);

  unsigned char* pull(unsigned int n);
  std::uint8_t pull8();
  std::uint16_t pull16() { return pull16_l(); }
  std::uint16_t pull16_l();
  std::uint16_t pull16_b();
  std::string pull_string();

  unsigned char* trim(unsigned int n);

  unsigned char& operator[](int i);
  const unsigned char& operator[](int i) const;

  Packet sub(unsigned int start, unsigned int len) const;

  std::string text() const;
  bool dump(std::ostream& os) const;
  bool dump_context(std::ostream& os) const;

  void check(const char* op) const;
  void passert(bool cond, const char* text) const;

 private:
  bool pointers_valid() const;
  PacketInfo info() const;
};

std::ostream& operator<<(std::ostream& os, const Packet& p);
