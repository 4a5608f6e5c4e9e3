#include "monitoring/stats.h"

#include <istream>
#include <ostream>

namespace Stat {
namespace Html {

namespace {

// Stands in for a section whose object is missing: knows nothing, so every
// nested section and value inside it is consumed without output.
class UnknownObject : public Object {
 public:
  Value statistics_value(const std::string&) const override { return Value(); }
  const Object* statistics_object(const std::string&) const override { return nullptr; }
  std::unique_ptr<IteratorBase> statistics_iterator(const std::string&) const override { return nullptr; }
};

}  // namespace

GeneratorV1::GeneratorV1(const Object& root_object, std::ostream& output, std::istream& input)
    : root(root_object),
      out(output),
      in(input),
      objects{&root},
      current(&root),
      input_state(&GeneratorV1::pinput_initial),
      output_state(&GeneratorV1::poutput_pass) {}

int GeneratorV1::generate() {
  ignore_depth = 0;
  return generate_body();
}

int GeneratorV1::generate_body() {
  for (;;) {
    Token t = parse();
    if (t.type == Token::eof) return 1;
    if (t.type == Token::section) {
      if (t.name == "end") return 1;
      std::unique_ptr<IteratorBase> it = current->statistics_iterator(t.name);
      if (!it) {
        sub_object(t.name);
      } else if (!it->valid()) {
        ignore_object();
      } else {
        // Every element re-reads the section body from just behind the marker.
        std::istream::pos_type body = in.tellg();
        sub_object(it->current());
        if (it->next()) {
          while (it->valid()) {
            in.seekg(body);
            sub_object(it->current());
            it->next();
          }
        }
      }
      continue;
    }
    // A value reference: the innermost object that knows the name wins.
    bool done = false;
    for (auto o = objects.rbegin(); o != objects.rend(); ++o) {
      Value v = (*o)->statistics_value(t.name);
      if (v) {
        put(v.text());
        done = true;
        break;
      }
    }
    if (!done) put(captured);
  }
}

GeneratorV1::Token GeneratorV1::parse() {
  input_state = &GeneratorV1::pinput_initial;
  output_state = &GeneratorV1::poutput_pass;
  token = Token();
  token_ready = false;
  captured.clear();
  char c;
  while (!token_ready) {
    if (!in.get(c)) return Token(Token::eof);
    (this->*input_state)(c);
    (this->*output_state)(c);
  }
  return token;
}

void GeneratorV1::sub_object(const std::string& name) {
  const Object* o = current->statistics_object(name);
  if (o)
    sub_object(*o);
  else
    ignore_object();
}

void GeneratorV1::sub_object(const Object& object) {
  objects.push_back(&object);
  current = &object;
  generate_body();
  objects.pop_back();
  current = objects.back();
}

void GeneratorV1::ignore_object() {
  UnknownObject unknown;
  ++ignore_depth;
  sub_object(unknown);
  --ignore_depth;
}

void GeneratorV1::pinput_initial(char c) {
  if (c == '<')
    next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
  else if (c == '%')
    next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::pinput_section_open(char c) {
  if (c == '!') {
    next_input(&GeneratorV1::pinput_section_comment1);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_body(char c) {
  if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_comment2);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_comment2(char c) {
  if (c == '-') {
    token.type = Token::section;
    token.name.clear();
    next_input(&GeneratorV1::pinput_section_obj_begin1);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_obj_begin1(char c) {
  if (c == 'G') {
    next_input(&GeneratorV1::pinput_section_obj_begin2);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_obj_begin2(char c) {
  if (c == 'E') {
    next_input(&GeneratorV1::pinput_section_obj_begin3);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_obj_begin3(char c) {
  if (c == 'N') {
    next_input(&GeneratorV1::pinput_section_obj_begin4);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_obj_begin4(char c) {
  if (c == '.') {
    next_input(&GeneratorV1::pinput_section_obj_name);
  } else {
    flush();
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
  }
}

void GeneratorV1::pinput_section_obj_name(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_obj_name_end1);
  else
    token.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_obj_name_end2);
  } else {
    token.name += '-';
    token.name += c;
    next_input(&GeneratorV1::pinput_section_obj_name);
  }
}

void GeneratorV1::pinput_section_obj_name_end2(char c) {
  // Anything between the closing hyphens and ">" is only captured.
  if (c == '>') {
    token_ready = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  }
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {
    put('%');
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  } else {
    token = Token(Token::value);
    token.name = c;
    next_input(&GeneratorV1::pinput_value_body);
  }
}

void GeneratorV1::pinput_value_body(char c) {
  if (c == '%') {
    token_ready = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  } else {
    token.name += c;
  }
}

void GeneratorV1::pinput_delayed_initial(char c) {
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  pinput_initial(c);
}

void GeneratorV1::poutput_pass(char c) { put(c); }

void GeneratorV1::poutput_capture(char c) { captured += c; }

void GeneratorV1::poutput_ignore(char) {}

void GeneratorV1::next_input(InputState s) {
  if (s == input_state) return;
  on_change_input_state(input_state, s);
  input_state = s;
}

void GeneratorV1::next_output(OutputState s) {
  if (s == output_state) return;
  on_change_output_state(output_state, s);
  output_state = s;
}

void GeneratorV1::next_state(InputState i, OutputState o) {
  next_input(i);
  next_output(o);
}

void GeneratorV1::on_change_input_state(InputState, InputState) {}

void GeneratorV1::on_change_output_state(OutputState, OutputState to) {
  if (to == &GeneratorV1::poutput_capture) captured.clear();
}

void GeneratorV1::flush() { put(captured); }

void GeneratorV1::put(char c) {
  if (ignore_depth == 0) out.put(c);
}

void GeneratorV1::put(const std::string& s) {
  if (ignore_depth == 0) out << s;
}

int generateV1(const Object& root, std::ostream& out, std::istream& in) {
  GeneratorV1 g(root, out, in);
  return g.generate();
}

}  // namespace Html
}  // namespace Stat
