// Statistics pages rendered from templates over a small object tree.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "monitoring/stats.h"

namespace {

// A statistics node backed by maps of values and collections.
struct Node : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, std::vector<Node>> collections;
  mutable int iterators_alive = 0;

  Node& set(const std::string& k, const std::string& v) { return values[k] = v, *this; }
  Stat::Value statistics_value(const std::string& name) const override {
    auto it = values.find(name);
    return it == values.end() ? Stat::Value() : Stat::Value(it->second);
  }
  const Stat::Object* statistics_object(const std::string&) const override { return nullptr; }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override {
    auto it = collections.find(name);
    return it == collections.end() ? nullptr : std::make_unique<Iter>(it->second, iterators_alive);
  }
  struct Iter : Stat::IteratorBase {
    Iter(const std::vector<Node>& v, int& alive) : v(v), alive(alive) { ++alive; }
    ~Iter() override { --alive; }
    bool valid() const override { return i < v.size(); }
    bool next() override { return ++i < v.size(); }
    const Stat::Object& current() const override { return v.at(i); }
    const std::vector<Node>& v;
    int& alive;
    size_t i = 0;
  };
};

// The page and the generator's result ("1:<page>").
std::string Render(const Stat::Object& root, const std::string& tmpl) {
  std::istringstream in(tmpl);
  std::ostringstream out;
  int r = Stat::Html::generateV1(root, out, in);
  return std::to_string(r) + ":" + out.str();
}

TEST(StatsPage, TextTagsCommentsPercentSignsCollectionsAndUnfinishedConstructs) {
  Node root;
  root.set("n", "42").set("x", "X").set("name", "root").set("i", "R");
  root.collections["rows"] = {Node().set("i", "1"), Node().set("i", "2"), Node().set("i", "3")};
  root.collections["rows"][1].collections["cells"] = {Node().set("c", "a"), Node().set("c", "b")};
  root.collections["one"] = {Node().set("i", "only")};
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
      {"x <!--GEN.n", "x "}, {"x <!-", "x "}, {"%", ""}, {"", ""},
      // A collection repeats its body per element, nested ones too.
      {"<ul><!--GEN.rows--><li>%i% %name%<!--GEN.cells--> %c%<!--GEN.end--></li><!--GEN.end--></ul> %i%",
       "<ul><li>1 root</li><li>2 root a b</li><li>3 root</li></ul> R"},
      {"<!--GEN.one-->&lt;%i%&gt;<!--GEN.end--> %i%", "&lt;only&gt; R"},
      {"<!--GEN.rows-->%i% 2 ", "1 2 "}};  // without its end marker: written once
  for (const auto& r : rows) EXPECT_EQ("1:" + r.second, Render(root, r.first)) << r.first;
  EXPECT_EQ(0, root.iterators_alive);
}

}  // namespace
