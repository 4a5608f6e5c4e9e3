#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/config/inifile.h"
#include "test_loop_support.h"

namespace {

class ConfigFile : public ::testing::Test {
 protected:
  // Writes the text as the file's content and parses it.
  IniFile::File& load(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    EXPECT_TRUE(file_.Open(path_));
    return file_;
  }

  // "name=value@line" for every value of a subsection, in file order.
  static std::vector<std::string> pairs(const IniFile::SubSection& sub) {
    std::vector<std::string> out;
    for (auto& key : sub)
      for (auto& v : key) out.push_back(key.GetName() + "=" + v.GetStr() + "@" + std::to_string(v.GetLineNo()));
    return out;
  }

  std::vector<std::string> sectionPairs(const std::string& name, int index = 0) {
    IniFile::Section* s = file_[name];
    int i = 0;
    for (auto& sub : *s)
      if (i++ == index) return pairs(sub);
    return {"<no subsection>"};
  }

  TempRoot root_;
  const std::string path_ = root_.file("/server.conf");
  IniFile::File file_;
};

using V = std::vector<std::string>;

TEST_F(ConfigFile, MissingFileLeavesAnEmptyTree) {
  EXPECT_FALSE(file_.Open(root_.file("/absent.conf")));
  EXPECT_FALSE(file_.IsOpened());
  IniFile::Section* traces = file_["traces"];
  ASSERT_NE(traces, nullptr);
  EXPECT_EQ(traces->begin(), traces->end());
  // The look-up created the empty section.
  EXPECT_EQ(file_.GetSectionCount(), 1);
}

// One row per parsing rule: the text, a section and its pairs.
TEST_F(ConfigFile, ParsingRules) {
  const struct {
    const char* text;
    const char* section;
    V pairs;
  } rows[] = {
      // The last pair needs no line end; an empty value at the end; a key
      // without "=" at the end is dropped.
      {"[traces]\nsignalling.hdlc = yes", "traces", {"signalling.hdlc=yes@2"}},
      {"[a]\nkey = ", "a", {"key=@2"}},
      {"[a]\nx=1\ndangling", "a", {"x=1@2"}},
      // Blanks around key and value vanish, inner blanks stay; tabs are
      // ordinary characters except at the start of a line.
      {"[s]\n   two words  =  a  b   # note\n", "s", {"two words=a  b@2"}},
      {"[s]\n\tk\t=\tv\t\n", "s", {"k\t=\tv\t@2"}},
      // "#" right after a value character is part of it; after a blank or
      // "=", a comment; inside a key, ordinary.
      {"# leading comment [x]\n[s] # after the header\n# whole line\na = 1#2\nb = 1 #2\nc =# empty\n"
       "d = # empty\ne#f = 3\n",
       "s", {"a=1#2@4", "b=1@5", "c=@6", "d=@7", "e#f=3@8"}},
      // CR LF line ends read like LF.
      {"[snmpagent]\r\nhost = 10.0.0.1\r\nname = ostr\r\n", "snmpagent", {"host=10.0.0.1@2", "name=ostr@3"}},
      // Header: text after "]" ignored, blanks inside kept.
      {"[traces] trailing text\nx=1\n[ padded ]\ny=2\n", " padded ", {"y=2@4"}},
      {"[traces] trailing text\nx=1\n[ padded ]\ny=2\n", "padded", {"<no subsection>"}},
      // A header without "]" drops the lines up to the next header.
      {"[a]\nx=1\n[broken\ny=2\nz=3\n  [b]\nw=4\n", "b", {"w=4@7"}},
      {"[a]\nx=1\n[broken\ny=2\nz=3\n  [b]\nw=4\n", "a", {"x=1@2"}},
      // A key line without "=" ends at its line end: the next header, a
      // comment and an indented pair are read normally.
      {"[traces]\nsignalling.hdlc\n[snmpagent]\nhost = 10.1.1.1\nname = ostr\n", "traces", {}},
      {"[traces]\nsignalling.hdlc\n[snmpagent]\nhost = 10.1.1.1\nname = ostr\n", "snmpagent",
       {"host=10.1.1.1@4", "name=ostr@5"}},
      {"[s]\nbroken\n# comment = 1\n  k = v\n", "s", {"k=v@4"}},
  };
  for (const auto& r : rows) {
    load(r.text);
    EXPECT_EQ(sectionPairs(r.section), r.pairs) << r.text;
  }
  load("[a]\nx=1\n[broken\ny=2\nz=3\n  [b]\nw=4\n");
  EXPECT_EQ(file_.GetSectionCount(), 2);
  std::ostringstream lf, crlf;
  load("[t]\nsignalling.hdlc = yes\n[s]\nhost = h\n").Dump(lf);
  load("[t]\r\nsignalling.hdlc = yes\r\n[s]\r\nhost = h\r\n").Dump(crlf);
  EXPECT_EQ(lf.str(), crlf.str());
}

TEST_F(ConfigFile, RepeatedHeadersAndKeysKeepFileOrderAndLines) {
  load("[snmpagent]\nhost=a\nhost=b\n\n[other]\nq=1\n[snmpagent]\nhost=c\n");
  IniFile::Section* s = file_["snmpagent"];
  EXPECT_EQ(s->GetSubSectionCount(), 2);
  std::vector<int> lines;
  for (auto& sub : *s) lines.push_back(sub.GetLineNo());
  EXPECT_EQ(lines, std::vector<int>({1, 7}));
  EXPECT_EQ(sectionPairs("snmpagent", 0), V({"host=a@2", "host=b@3"}));
  EXPECT_EQ(sectionPairs("snmpagent", 1), V({"host=c@8"}));
  std::vector<std::string> names;
  for (auto& sec : file_) names.push_back(sec.GetName());
  EXPECT_EQ(names, V({"snmpagent", "other"}));
}

// ---------------------------------------------------------------- Reader

class ConfigReader : public ConfigFile {
 protected:
  IniFile::SubSection& first(const std::string& section) { return *file_[section]->begin(); }
  std::ostringstream out_;
};

// The ten boolean words and only those (case counts), as a required and as
// an optional key: a bad required value fails the section, a bad optional
// one is reported and ignored; either way the target keeps its value.
TEST_F(ConfigReader, EveryBooleanWordAndOnlyThose) {
  const struct {
    const char* word;
    int want;  // -1: refused
  } words[] = {{"true", 1}, {"false", 0}, {"yes", 1},  {"no", 0},   {"enabled", 1}, {"disabled", 0},
               {"enable", 1}, {"disable", 0}, {"1", 1}, {"0", 0}, {"True", -1},  {"on", -1},
               {"off", -1},  {"YES", -1},    {"", -1}};
  for (const auto& w : words) {
    for (bool required : {true, false}) {
      load(std::string("[t]\nb = ") + w.word + "\n");
      bool target = w.want != 1;
      std::ostringstream out;
      IniFile::Reader r("t: ", out);
      bool& parsed = (required ? r.mRequired : r.mOptional).add<bool>(&target, "b");
      EXPECT_EQ(r(first("t")), w.want >= 0 || !required) << w.word;
      EXPECT_EQ(parsed, w.want >= 0) << w.word;
      EXPECT_EQ(target, w.want != 0) << w.word;
      const std::string bad = std::string(required ? "t: required" : "t: optional") + " key \"b\" has invalid value=\"" +
                              w.word + "\", line 2" + (required ? "\n" : ". Key will be ignored.\n");
      EXPECT_EQ(out.str(), w.want >= 0 ? "" : bad);
    }
  }
}

TEST_F(ConfigReader, MissingRequiredKeyStopsBeforeOptionals) {
  load("\n[snmpagent]\nname = ostr\n");
  std::string host, name = "unset";
  IniFile::Reader r("snmpagent: ", out_);
  r.mRequired.add<std::string>(&host, "host");
  r.mOptional.add<std::string>(&name, "name");
  EXPECT_FALSE(r(first("snmpagent")));
  EXPECT_EQ(out_.str(), "snmpagent: required key \"host\" not present, line 2\n");
  EXPECT_EQ(name, "unset");
}

enum Kind : unsigned char { kOne = 1, kTwo = 2, kFour = 4 };
const IniFile::Symbol<Kind> kKinds[] = {{"one", kOne}, {"two", kTwo}, {"four", kFour}, {nullptr, kOne}};

class ConfigNumbers : public ConfigReader {
 protected:
  // "true 16" or "false 5": the result of reading the value into a target
  // of type T that held 5, and the target afterwards.
  template <class T>
  std::string read(const std::string& text, const IniFile::Symbol<T>* table = nullptr) {
    load("[t]\nk = " + text + "\n");
    T target = static_cast<T>(5);
    IniFile::Reader reader("t: ", out_);
    reader.mRequired.add<T>(&target, "k", table);
    const bool ok = reader(first("t"));
    return (ok ? "true " : "false ") + std::to_string(static_cast<long long>(target));
  }
};

// Numbers: a symbol, else any C base, stored even when text trails them,
// whether or not the enumeration names them; a number the target cannot
// hold (an enumeration on unsigned char here) is refused and leaves the
// target alone. GetInt reads decimal only and gives its default for a
// number an int cannot hold.
TEST_F(ConfigNumbers, NumbersAndSymbols) {
  const struct {
    const char* text;
    const char* kind;
    const char* shortInt;
    const char* unsignedInt;
    int getInt;
  } rows[] = {
      {"two", "true 2", "false 0", "false 0", -1},
      {"0x10", "true 16", "true 16", "true 16", 0},
      {"03", "true 3", "true 3", "true 3", 3},
      {"12abc", "false 12", "false 12", "false 12", 12},
      {"256", "false 5", "true 256", "true 256", 256},
      {"-1", "false 5", "true -1", "false 5", -1},
      {"70000", "false 5", "false 5", "true 70000", 70000},
      {"4294967295", "false 5", "false 5", "true 4294967295", -1},
      {"-99999999999999999999", "false 5", "false 5", "false 5", -1},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(read<Kind>(r.text, kKinds), r.kind) << r.text;
    EXPECT_EQ(read<short>(r.text), r.shortInt) << r.text;
    EXPECT_EQ(read<unsigned int>(r.text), r.unsignedInt) << r.text;
    EXPECT_EQ((*first("t")["k"]->begin()).GetInt(-1), r.getInt) << r.text;
  }
}

}  // namespace
