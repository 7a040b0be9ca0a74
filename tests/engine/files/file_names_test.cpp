#include "engine/files/file_names.h"
#include "engine/files/temporary_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace pklfix {
namespace {

// Whatever the name, every temporary name fits in one name, never passes
// for a result file but the first, and two names never share one.
TEST(FileNamesTest, TemporaryNamesFitAndStayApart) {
  const std::string umlauts = [] {
    std::string text;
    for (int i = 0; i < 120; ++i) text += "\xc3\xbc";  // ü, two bytes each
    return text;
  }();
  const std::string names[] = {
      "S001.pkl",
      std::string(248, 'a') + ".pkl",                     // "new" + name fits, alternatives do not
      std::string(251, 'b') + ".pkl",                     // the name fits, "new" + name does not
      std::string(251, 'b').replace(0, 1, "c") + ".pkl",  // differs from the last at its start
      std::string(250, 'b') + "d.pkl",                    // and at its end
      umlauts + ".pkl",
  };
  std::set<std::string> seen;
  for (const std::string& name : names) {
    for (int attempt = 0; attempt <= kTemporaryAlternatives; ++attempt) {
      SCOPED_TRACE(name.substr(0, 8) + "... (" + std::to_string(name.size()) + " bytes), attempt " +
                   std::to_string(attempt));
      const std::string temporary = temporaryName(name, attempt);
      EXPECT_LE(temporary.size(), kMaxNameBytes);
      EXPECT_EQ(temporary.rfind("new", 0), 0u);
      if (attempt > 0 || 3 + name.size() > kMaxNameBytes) {
        EXPECT_FALSE(hasExtension(temporary, ".pkl"));
      }
      EXPECT_TRUE(seen.insert(temporary).second) << "two copies would share " << temporary;
      // No UTF-8 sequence is cut: every lead byte has its continuation bytes.
      for (std::size_t i = 0; i < temporary.size();) {
        unsigned char c = static_cast<unsigned char>(temporary[i]);
        std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        ASSERT_NE(c & 0xC0, 0x80) << "a sequence cut at byte " << i;
        ASSERT_LE(i + length, temporary.size());
        i += length;
      }
    }
  }
  EXPECT_EQ(temporaryName("S001.pkl", 0), "newS001.pkl");
  EXPECT_EQ(temporaryName("S001.pkl", 2), "newS001.pkl.2.tmp");
}

// The names of one folder, listed as a file manager lists them; every name
// sorts after the one before it and before the one after, and no two tie.
TEST(FileNamesTest, NamesSortAsAFileManagerSortsThem) {
  const std::vector<std::string> sorted = {
      "",
      "-S1.pkl",
      "0.pkl",
      "café.pkl",
      "S.pkl",
      "S0.pkl",
      "S00.pkl",  // ties S0 but for its zeros: the bytes decide
      "S01.pkl",
      "S1.pkl",
      "s1.pkl",  // ties S1 but for the case: the bytes decide, 'S' first
      "s1.pkl.1.tmp",
      "S2.pkl",
      "S002a.pkl",  // 2 again, then "a" before "b"
      "S2b.pkl",
      "S10.pkl",
      "S00099999999999999999999.pkl",  // beyond any integer type
      "S100000000000000000000000.pkl",
      "Sa.pkl",
      "Sb.PKL",
      "z.pkl",
      "\xc3\x84pfel.pkl",              // Ä: bytes beyond ASCII come after every ASCII one
      "\xe6\xb8\xac\xe5\xae\x9a.pkl",  // 測定
  };
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    for (std::size_t k = 0; k < sorted.size(); ++k) {
      EXPECT_EQ(nameLess(sorted[i], sorted[k]), i < k)
          << '"' << sorted[i] << "\" against \"" << sorted[k] << '"';
    }
  }
}

}  // namespace
}  // namespace pklfix
