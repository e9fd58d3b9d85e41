#include "text/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace zavo {
namespace {

// Bytes that differ at every position, so that a block or word taken in
// the wrong order changes the digest.
std::string Pattern(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<char>((i * 7 + 1) % 251);
  }
  return s;
}

TEST(Sha256Test, KnownVectors) {
  // The FIPS 180-4 examples, then lengths around the padding boundaries
  // (55 and 56 bytes: one or two final blocks), checked against sha256sum.
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {Pattern(55),
       "0e1fd909ef91754af38bceea27478ef6ca3427023f13bf590b34b205e5e1c0fb"},
      {Pattern(56),
       "d914564b0890ba0507547d978021457d00970416582fcfae4746bd6f15e1dbbe"},
      {Pattern(63),
       "cf0c1d27f3afc26f75784d0eb19c153f67106833b6e4d38ed5a02cf3826f7fab"},
      {Pattern(64),
       "a70bbf04e9d6b13f21dae6ee3119e2fefb8bbad9c34a142738f09089ae07bdef"},
      {Pattern(65),
       "f368e8174761b102b4175797f967faffa0783bc72d5d32513b5c5dd895d0ea57"},
      {Pattern(119),
       "5c413bb5eb7ba9c71811382fea17a008dcbc6ea2ad9401698d552e201d148bb8"},
      {Pattern(120),
       "06e55c382ffed163d9d1c9daf4eaf73a17fb299140d535c48f87b1c4b65f61c1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.digest, Sha256Hex(c.message)) << c.message.size() << " bytes";
  }
}

TEST(Sha256Test, AnySplitOfTheInputGivesTheSameDigest) {
  std::string message = Pattern(300);
  std::string whole = Sha256Hex(message);
  for (std::size_t step : {1u, 3u, 63u, 64u, 65u, 129u}) {
    Sha256 digest;
    for (std::size_t at = 0; at < message.size(); at += step) {
      digest.Update(message.data() + at, std::min(step, message.size() - at));
    }
    EXPECT_EQ(whole, digest.HexDigest()) << "steps of " << step;
  }
  Sha256 reused;
  reused.Update("junk", 4);
  reused.HexDigest();
  reused.Reset();
  reused.Update(message.data(), message.size());
  EXPECT_EQ(whole, reused.HexDigest());
}

}  // namespace
}  // namespace zavo
