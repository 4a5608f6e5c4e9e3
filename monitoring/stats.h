#pragma once
// Statistics pages: an HTML template is copied from a stream to a stream,
// "%name%" references in text are replaced by values of a tree of statistics
// objects, and "<!--GEN.name-->" ... "<!--GEN.end-->" sections are expanded
// once for a sub-object or once per element of a collection (the section's
// text is re-read for each element, so the input must support seeking).
#include <iosfwd>
#include <list>
#include <memory>
#include <string>

namespace Stat {

// The answer to a value query; false when the object has no such value.
class Value {
 public:
  Value() = default;
  explicit Value(std::string text) : found_(true), text_(std::move(text)) {}

  explicit operator bool() const { return found_; }
  const std::string& text() const { return text_; }

 private:
  bool found_ = false;
  std::string text_;
};

class Object;

// A cursor over the elements of a collection.
class IteratorBase {
 public:
  virtual ~IteratorBase() = default;
  // True when the collection has no element left (the generator does not use it).
  virtual bool empty() const { return !valid(); }
  virtual bool valid() const = 0;
  // Advances; false when the cursor has left the last element.
  virtual bool next() = 0;
  // The element under the cursor; it stays owned by the collection.
  virtual const Object& current() const = 0;
};

// A node of the statistics tree, implemented by the owner of the data.
class Object {
 public:
  virtual ~Object() = default;
  virtual Value statistics_value(const std::string& name) const = 0;
  // A sub-object or null; not handed over.
  virtual const Object* statistics_object(const std::string& name) const = 0;
  // A new iterator over the collection of that name, or empty.
  virtual std::unique_ptr<IteratorBase> statistics_iterator(const std::string& name) const = 0;
};

namespace Html {

class GeneratorV1 {
 public:
  struct Token {
    enum Type { section = 0, value = 1, eof = 2 };
    Token() = default;
    explicit Token(Type t) : type(t) {}
    Type type = eof;
    std::string name;
  };

  GeneratorV1(const Object& root, std::ostream& out, std::istream& in);
  GeneratorV1(const GeneratorV1&) = delete;
  GeneratorV1& operator=(const GeneratorV1&) = delete;

  // Always 1: unknown names and unclosed sections are not errors.
  int generate();

 private:
  typedef void (GeneratorV1::*InputState)(char);
  typedef void (GeneratorV1::*OutputState)(char);

  int generate_body();
  Token parse();
  void sub_object(const std::string& name);
  void sub_object(const Object& object);
  void ignore_object();

  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_body(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);

  void poutput_pass(char c);
  void poutput_capture(char c);
  void poutput_ignore(char c);

  void next_input(InputState s);
  void next_output(OutputState s);
  void next_state(InputState in, OutputState out);
  void on_change_input_state(InputState from, InputState to);
  void on_change_output_state(OutputState from, OutputState to);
  // Marker text seen so far does not form a marker: write it as it was.
  void flush();

  void put(char c);
  void put(const std::string& s);

  const Object& root;
  std::ostream& out;
  std::istream& in;
  std::list<const Object*> objects;
  const Object* current;
  int ignore_depth = 0;
  InputState input_state;
  OutputState output_state;
  Token token;
  bool token_ready = false;
  std::string captured;
};

// Fills the template read from in into out; returns 1.
int generateV1(const Object& root, std::ostream& out, std::istream& in);

}  // namespace Html
}  // namespace Stat
