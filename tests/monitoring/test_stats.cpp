// Statistics pages rendered from templates over a small object tree.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "monitoring/stats.h"

namespace {

// A statistics node backed by maps: values, sub-objects and collections.
class Node : public Stat::Object {
 public:
  std::map<std::string, std::string> values;
  std::map<std::string, Node> objects;
  std::map<std::string, std::vector<Node>> collections;
  mutable int iterators_alive = 0;

  Node& set(const std::string& k, const std::string& v) {
    values[k] = v;
    return *this;
  }

  Stat::Value statistics_value(const std::string& name) const override {
    auto it = values.find(name);
    return it == values.end() ? Stat::Value() : Stat::Value(it->second);
  }
  const Stat::Object* statistics_object(const std::string& name) const override {
    auto it = objects.find(name);
    return it == objects.end() ? nullptr : &it->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override {
    auto it = collections.find(name);
    if (it == collections.end()) return nullptr;
    return std::unique_ptr<Stat::IteratorBase>(new Iter(it->second, iterators_alive));
  }

 private:
  class Iter : public Stat::IteratorBase {
   public:
    Iter(const std::vector<Node>& v, int& alive) : v_(v), alive_(alive) { ++alive_; }
    ~Iter() override { --alive_; }
    bool valid() const override { return i_ < v_.size(); }
    bool next() override { return ++i_ < v_.size(); }
    const Stat::Object& current() const override { return v_.at(i_); }

   private:
    const std::vector<Node>& v_;
    int& alive_;
    size_t i_ = 0;
  };
};

std::string Render(const Stat::Object& root, const std::string& tmpl, int* result = nullptr) {
  std::istringstream in(tmpl);
  std::ostringstream out;
  int r = Stat::Html::generateV1(root, out, in);
  if (result) *result = r;
  return out.str();
}

TEST(StatsPage, TextTagsCommentsPercentSignsAndUnfinishedConstructs) {
  Node root;
  root.set("n", "42").set("x", "X");
  const std::string plain =
      "<!DOCTYPE html>\n<html><head><title>t</title></head>\n<!-- a comment -->\n"
      "<body class=\"a\">text &amp; more < > <!x> <!-y> <!-- -->\n</body></html>\n";
  const std::pair<std::string, std::string> rows[] = {
      {plain, plain},
      {"<td width=\"%n%\">%n%</td>", "<td width=\"%n%\">42</td>"},  // inside a tag: text
      {"100%% and %%%x%", "100%% and %%X"},                        // doubled percent signs stay doubled
      {"a %nothing% b", "a %nothing% b"},                          // unknown names as written
      {"<!-- GEN.n--> <!--GE--> <!--gen.x-->", "<!-- GEN.n--> <!--GE--> <!--gen.x-->"},
      {"50% <b>off</b> %n%", "50% <b>off</b> %n"},  // a reference runs to the next percent sign
      {"total %n", "total "},                       // unfinished at the end: dropped
      {"x <!--GEN.n", "x "},
      {"x <!-", "x "},
      {"%", ""},
      {"", ""},
  };
  for (const auto& r : rows) {
    int result = 0;
    EXPECT_EQ(r.second, Render(root, r.first, &result)) << r.first;
    EXPECT_EQ(1, result);
  }
}

TEST(StatsPage, CollectionsRepeatTheirBodyPerElement) {
  Node root;
  root.set("name", "root").set("i", "R");
  root.collections["rows"] = {Node().set("i", "1"), Node().set("i", "2"), Node().set("i", "3")};
  root.collections["rows"][1].collections["cells"] = {Node().set("c", "a"), Node().set("c", "b")};
  EXPECT_EQ("<ul><li>1 root</li><li>2 root a b</li><li>3 root</li></ul> R",
            Render(root,
                   "<ul><!--GEN.rows--><li>%i% %name%<!--GEN.cells--> %c%<!--GEN.end--></li>"
                   "<!--GEN.end--></ul> %i%"));
  EXPECT_EQ(0, root.iterators_alive);
  // A single element.
  root.collections["one"] = {Node().set("i", "only")};
  EXPECT_EQ("&lt;only&gt; R", Render(root, "<!--GEN.one-->&lt;%i%&gt;<!--GEN.end--> %i%"));
  // Without its end marker a repeated section is written once.
  EXPECT_EQ("1 2 ", Render(root, "<!--GEN.rows-->%i% 2 "));
}

}  // namespace
