#include "runtime/log/ext.h"

#include <iomanip>

namespace ext {

// The hexadecimal manipulators change the stream's flags and fill only
// while they write, then set the fill back to a space.
void OutUnsignedInHex::Put(std::ostream& os) const {
  std::ios_base::fmtflags flags = os.flags();
  os << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(static_cast<int>(width)) << value;
  os.flags(flags);
  os.fill(' ');
}

std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& h) {
  h.Put(os);
  return os;
}

void OutBufInHex::Put(std::ostream& os) const {
  std::ios_base::fmtflags flags = os.flags();
  os << std::hex << std::uppercase << std::setfill('0');
  for (const unsigned char* p = begin; p < end; ++p) os << std::setw(2) << static_cast<unsigned int>(*p) << ' ';
  os.flags(flags);
  os.fill(' ');
}

std::ostream& operator<<(std::ostream& os, const OutBufInHex& h) {
  h.Put(os);
  return os;
}

void Table::row(std::ostream& os, const std::string& text) {
  if (column_ >= static_cast<int>(widths_.size())) return;
  open_ = true;
  int width = widths_[column_];
  if (width < 0) width = 0;
  std::string cut = text.substr(0, static_cast<std::size_t>(width));
  int room = width - static_cast<int>(cut.size());
  os << '|' << std::string(static_cast<std::size_t>(room / 2), ' ') << cut
     << std::string(static_cast<std::size_t>((room + 1) / 2), ' ');
  ++column_;
  if (column_ >= static_cast<int>(widths_.size())) {
    os << '|' << '\n';
    open_ = false;
  }
}

void Table::finalize(std::ostream& os) {
  while (open_ && column_ < static_cast<int>(widths_.size())) row(os, " ");
}

void Table::line(std::ostream& os, char corner, char fill) {
  finalize(os);
  if (widths_.empty()) return;
  for (int w : widths_) os << corner << std::string(static_cast<std::size_t>(w < 0 ? 0 : w), fill);
  os << corner << '\n';
}

void Table::delimeter(std::ostream& os) { line(os, '+', '-'); }

void Table::gap(std::ostream& os) { line(os, '|', ' '); }

Table::Sentry& nextrow(Table::Sentry& s) {
  s.table().row(s.stream(), s.cell());
  s.clear_cell();
  return s;
}

Table::Sentry& beginrow(Table::Sentry& s) {
  s.table().resetrow();
  return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
  s.table().delimeter(s.stream());
  return s;
}

}  // namespace ext
