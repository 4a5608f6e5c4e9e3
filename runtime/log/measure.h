#pragma once
// Timing records: Measure (min/max/last/count of durations in microseconds)
// and named profiling points kept in one global list for the status dump;
// Trace::Block writes enter/leave lines when enabled.
#include <iosfwd>

class Measure {
 public:
  constexpr Measure() = default;
  void begin();
  void end();
  void put(std::ostream& os) const;

  unsigned int min() const { return min_; }
  unsigned int max() const { return max_; }
  unsigned int last() const { return last_; }
  unsigned int counter() const { return counter_; }
  // Mux::microseconds() at the last begin(); plus last(), the reading of
  // the last end().
  unsigned int start() const { return start_; }
  // Records one duration as end() would (tests and callers that time
  // themselves).
  void sample(unsigned int duration);

 private:
  unsigned int min_ = 0;
  unsigned int max_ = 0;
  unsigned int last_ = 0;
  bool first_ = true;
  unsigned int start_ = 0;
  unsigned int counter_ = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);

namespace Profile {

class Point {
 public:
  explicit Point(const char* name);
  ~Point();
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;

  void begin() { measure_.begin(); }
  void end() { measure_.end(); }
  void put(std::ostream& os) const;
  const char* name() const { return name_; }
  const Measure& measure() const { return measure_; }

 private:
  friend void dump(std::ostream& os);
  Point* next_ = nullptr;
  const char* name_;
  Measure measure_;
};

std::ostream& operator<<(std::ostream& os, const Point& p);
// Every point, most recently constructed first, one per line.
void dump(std::ostream& os);

// Head of the global list of points (the most recently constructed; null
// while there is none).
extern Point* mRoot;

}  // namespace Profile

namespace Trace {

class Block {
 public:
  Block(bool enabled, const char* name, std::ostream& os);
  ~Block();

 private:
  bool enabled_;
  const char* name_;
  std::ostream& os_;
};

}  // namespace Trace
