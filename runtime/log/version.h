#pragma once
// The build's version record; it prints as its tag ("R2033").
#include <iosfwd>

class Version {
 public:
  enum Type : int { snapshot = 0, test = 1, release = 2 };

  constexpr Version(Type type, int number, const char* text, const char* builder, const char* date,
                    const char* tag, const char* platform)
      : type_(type), number_(number), text_(text), builder_(builder), date_(date), tag_(tag),
        platform_(platform) {}

  void update() {}
  void put(std::ostream& os) const;
  const char* tag() const { return tag_; }
  Type type() const { return type_; }
  int number() const { return number_; }
  const char* text() const { return text_; }
  const char* builder() const { return builder_; }
  const char* date() const { return date_; }
  const char* platform() const { return platform_; }

  static const Version current;

 private:
  Type type_;
  int number_;
  const char* text_;
  const char* builder_;
  const char* date_;
  const char* tag_;
  const char* platform_;
};

std::ostream& operator<<(std::ostream& os, const Version& v);
const char* version_string(Version::Type t);
const char* version_suffix(Version::Type t);
std::ostream& operator<<(std::ostream& os, Version::Type t);
