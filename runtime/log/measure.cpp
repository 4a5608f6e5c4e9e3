#include "runtime/log/measure.h"

#include <ostream>

#include "runtime/os/clock.h"

void Measure::begin() { start_ = Mux::microseconds(); }

void Measure::end() { sample(Mux::microseconds() - start_); }

void Measure::sample(unsigned int d) {
  if (first_) {
    min_ = max_ = last_ = d;
    counter_ = 1;
    first_ = false;
    return;
  }
  ++counter_;
  if (d < min_) min_ = d;
  if (d > max_) max_ = d;
  last_ = d;
}

void Measure::put(std::ostream& os) const {
  os << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << counter_;
}

std::ostream& operator<<(std::ostream& os, const Measure& m) {
  m.put(os);
  return os;
}

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point() {
  for (Point** p = &mRoot; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

void Point::put(std::ostream& os) const { os << "[" << name_ << "]: " << measure_; }

std::ostream& operator<<(std::ostream& os, const Point& p) {
  p.put(os);
  return os;
}

void dump(std::ostream& os) {
  for (Point* p = mRoot; p; p = p->next_) os << *p << '\n';
}

}  // namespace Profile

namespace Trace {

Block::Block(bool enabled, const char* name, std::ostream& os) : enabled_(enabled), name_(name), os_(os) {
  if (enabled_) os_ << "Enter " << name_ << std::endl;
}

Block::~Block() {
  if (enabled_) os_ << "Leave " << name_ << std::endl;
}

}  // namespace Trace
