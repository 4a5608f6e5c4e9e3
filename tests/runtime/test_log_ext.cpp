#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "runtime/log/ext.h"
#include "runtime/log/measure.h"
#include "runtime/log/version.h"

namespace {

TEST(ExtManipulators, HexBytesRestoreFillAndFlags) {
  std::ostringstream os;
  const unsigned char bytes[] = {0x0A, 0xFF};
  os << std::setfill('*') << ext::hex(bytes, bytes + 2) << std::setw(3) << 5 << ' ' << 26;
  EXPECT_EQ(os.str(), "0A FF   5 26");
  EXPECT_EQ(os.fill(), ' ');
  EXPECT_FALSE(os.flags() & std::ios_base::hex);
  EXPECT_FALSE(os.flags() & std::ios_base::uppercase);

  std::ostringstream empty;
  empty << ext::hex("", 0u);
  EXPECT_EQ(empty.str(), "");

  std::ostringstream chars;
  chars << ext::hex("\x01\x80", 2u);
  EXPECT_EQ(chars.str(), "01 80 ");
}

TEST(ExtTable, LaysOutTheTwoColumnExample) {
  std::ostringstream os;
  ext::Table t(5, 3);
  os << t << ext::delimeter;
  os << t << "ab" << ext::nextrow << "xyz" << ext::nextrow;
  os << t << ext::beginrow << "ab" << ext::nextrow;  // the sentry closes the row
  os << t << ext::delimeter;
  EXPECT_EQ(os.str(),
            "+-----+---+\n"
            "| ab  |xyz|\n"
            "| ab  |   |\n"
            "+-----+---+\n");
}

TEST(ExtTable, CutsLongCellsDropsExtraCellsAndNeedsColumns) {
  std::ostringstream os;
  ext::Table t(4, 2);
  os << t << "abcdefgh" << ext::nextrow << 7 << ext::nextrow << "extra" << ext::nextrow;
  EXPECT_EQ(os.str(), "|abcd|7 |\n");

  std::ostringstream none;
  ext::Table empty;
  none << empty << ext::delimeter << "x" << ext::nextrow;
  none << empty << ext::delimeter;
  EXPECT_EQ(none.str(), "");

  std::ostringstream odd;
  ext::Table t3(6);
  odd << t3 << "abc" << ext::nextrow;
  EXPECT_EQ(odd.str(), "| abc  |\n");  // odd remainder goes right
}

}  // namespace
