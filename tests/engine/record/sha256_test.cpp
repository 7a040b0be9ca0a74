#include "engine/record/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace pklfix {
namespace {

// The examples of FIPS 180-4, fed in pieces of every size up to 7 bytes so
// a digest that depends on how the bytes arrive shows, and a second
// message through the same object, so finish() must start over.
TEST(Sha256Test, StandardVectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  Sha256 hash;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.substr(0, 20));
    EXPECT_EQ(hash.finish().size(), 64u);  // starts each case afresh
    for (std::size_t at = 0, piece = 0; at < c.message.size(); at += piece) {
      piece = at % 7 + 1;
      hash.update(std::string_view(c.message).substr(at, piece));
    }
    EXPECT_EQ(hash.finish(), c.digest);
  }
}

}  // namespace
}  // namespace pklfix
