#pragma once
// Stream manipulators of log lines and status dumps.
//   std::clog << ext::header(this) << "message" << std::endl;
// calls this->PutHeader(std::ostream&) for the line's prefix.
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

template <class T>
struct OutObjHeader {
  explicit OutObjHeader(const T* p) : obj(p) {}
  void Put(std::ostream& os) const { obj->PutHeader(os); }
  const T* obj;
};

template <class T>
OutObjHeader<T> header(const T* obj) {
  return OutObjHeader<T>(obj);
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& h) {
  h.Put(os);
  return os;
}

template <class T>
struct OutShortInfo {
  explicit OutShortInfo(const T* p) : obj(p) {}
  void Put(std::ostream& os) const { obj->PutShortInfo(os); }
  const T* obj;
};

template <class T>
OutShortInfo<T> shortinfo(const T* obj) {
  return OutShortInfo<T>(obj);
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutShortInfo<T>& h) {
  h.Put(os);
  return os;
}

template <class T>
struct OutQuoted {
  explicit OutQuoted(const T& v) : value(&v) {}
  void Put(std::ostream& os) const { os << '"' << *value << '"'; }
  const T* value;
};

template <class T>
OutQuoted<T> quoted(const T& v) {
  return OutQuoted<T>(v);
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& q) {
  q.Put(os);
  return os;
}

// "0x" and the value in upper-case hex, zero-padded to at least width digits.
struct OutUnsignedInHex {
  void Put(std::ostream& os) const;
  unsigned int value;
  unsigned int width;
};

// Each byte as two upper-case hex digits and a blank.
struct OutBufInHex {
  void Put(std::ostream& os) const;
  const unsigned char* begin;
  const unsigned char* end;
};

inline OutUnsignedInHex hex(unsigned int value, unsigned int width) { return OutUnsignedInHex{value, width}; }
inline OutBufInHex hex(const unsigned char* b, const unsigned char* e) { return OutBufInHex{b, e}; }
inline OutBufInHex hex(const char* data, unsigned int len) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
  return OutBufInHex{b, b + len};
}

std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& h);
std::ostream& operator<<(std::ostream& os, const OutBufInHex& h);

// A text table with fixed column widths; cells are centred and cut to the
// column width.
//   ext::Table t(5, 3);
//   os << t << ext::delimeter;
//   os << t << "ab" << ext::nextrow << "xyz" << ext::nextrow;
class Table {
 public:
  class Sentry {
   public:
    Sentry(std::ostream& os, Table& t) : os_(os), table_(t) {}
    Sentry(Sentry&& o) : os_(o.os_), table_(o.table_), cell_(o.cell_.str()) { o.moved_ = true; }
    ~Sentry() {
      if (!moved_) table_.finalize(os_);
    }

    template <class T>
    Sentry& put(const T& v) {
      cell_ << v;
      return *this;
    }

    std::ostream& stream() { return os_; }
    Table& table() { return table_; }
    std::string cell() const { return cell_.str(); }
    void clear_cell() { cell_.str(std::string()); }

   private:
    std::ostream& os_;
    Table& table_;
    std::ostringstream cell_;
    bool moved_ = false;
  };

  Table() = default;
  explicit Table(int w1) { add(w1); }
  Table(int w1, int w2) : Table(w1) { add(w2); }
  Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
  Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
  Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) { add(w7); }

  void add(int width) { widths_.push_back(width); }
  void init() { resetrow(); }
  void resetrow() {
    column_ = 0;
    open_ = false;
  }

  void row(std::ostream& os, const std::string& text);
  void finalize(std::ostream& os);
  void delimeter(std::ostream& os);
  void gap(std::ostream& os);

 private:
  void line(std::ostream& os, char corner, char fill);
  std::vector<int> widths_;
  int column_ = 0;
  bool open_ = false;
};

inline Table::Sentry operator<<(std::ostream& os, Table& t) { return Table::Sentry(os, t); }

template <class T>
Table::Sentry& operator<<(Table::Sentry& s, const T& v) {
  return s.put(v);
}
template <class T>
Table::Sentry& operator<<(Table::Sentry&& s, const T& v) {
  return s.put(v);
}

Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

inline Table::Sentry& operator<<(Table::Sentry& s, Table::Sentry& (*fn)(Table::Sentry&)) { return fn(s); }
inline Table::Sentry& operator<<(Table::Sentry&& s, Table::Sentry& (*fn)(Table::Sentry&)) { return fn(s); }

}  // namespace ext
