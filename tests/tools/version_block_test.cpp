#include "version_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brand {
namespace {

using Bytes = std::vector<uint8_t>;

uint16_t U16At(const Bytes& b, size_t pos) { return static_cast<uint16_t>(b.at(pos) | (b.at(pos + 1) << 8)); }

std::u16string KeyAt(const Bytes& b, size_t pos) {
  std::u16string s;
  for (uint16_t c; (c = U16At(b, pos)) != 0; pos += 2) s.push_back(static_cast<char16_t>(c));
  return s;
}

VersionNode Text(const std::u16string& key, const std::u16string& text) {
  VersionNode n;
  n.key = key;
  n.is_text = true;
  n.has_text = true;
  n.text = text;
  return n;
}

VersionNode Container(const std::u16string& key, std::vector<VersionNode> children) {
  VersionNode n;
  n.key = key;
  n.is_text = true;
  n.children = std::move(children);
  return n;
}

Bytes FixedInfo(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  Bytes v(52, 0);
  const uint32_t words[] = {0xFEEF04BDu, 0x00010000u, (uint32_t{a} << 16) | b, (uint32_t{c} << 16) | d};
  for (size_t i = 0; i < 4; ++i)
    for (size_t k = 0; k < 4; ++k) v[i * 4 + k] = static_cast<uint8_t>(words[i] >> (8 * k));
  return v;
}

VersionNode Table(const std::u16string& lang, const std::u16string& description) {
  return Container(
      lang, {Text(u"CompanyName", u"Maker"), Text(u"FileDescription", description), Text(u"FileVersion", u"1.2.3.4")});
}

VersionNode TypicalTree(std::vector<VersionNode> tables) {
  VersionNode root;
  root.key = u"VS_VERSION_INFO";
  root.value = FixedInfo(1, 2, 3, 4);
  VersionNode var;
  var.key = u"Translation";
  var.value = {0x04, 0x08, 0xB0, 0x04};
  root.children = {Container(u"StringFileInfo", std::move(tables)), Container(u"VarFileInfo", {var})};
  return root;
}

VersionNode TypicalTree() { return TypicalTree({Table(u"080404b0", u"{00000000-1111-2222-3333-444444444444}")}); }

void ExpectSameTree(const VersionNode& a, const VersionNode& b) {
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(a.is_text, b.is_text);
  EXPECT_EQ(a.value, b.value);
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.has_text, b.has_text);
  ASSERT_EQ(a.children.size(), b.children.size()) << "under key of size " << a.key.size();
  for (size_t i = 0; i < a.children.size(); ++i) ExpectSameTree(a.children[i], b.children[i]);
}

// Walks serialized bytes independently of the parser and checks the layout
// rules every reader relies on: each node and value starts 32-bit aligned,
// lengths stay inside the parent and never count trailing padding.
void CheckLayout(const Bytes& b, size_t pos, size_t parent_end) {
  ASSERT_EQ(pos % 4, 0u) << "node at " << pos;
  const size_t len = U16At(b, pos);
  ASSERT_LE(pos + len, parent_end);
  const size_t end = pos + len;
  size_t cur = pos + 6 + 2 * (KeyAt(b, pos + 6).size() + 1);
  const size_t value_len = U16At(b, pos + 2);
  const bool text = U16At(b, pos + 4) == 1;
  if (value_len > 0) {
    cur = (cur + 3) & ~size_t{3};
    cur += text ? value_len * 2 : value_len;
    if (text) {
      EXPECT_EQ(U16At(b, cur - 2), 0) << "text at " << pos << " lacks its terminator";
    }
  }
  while (cur < end) {
    cur = (cur + 3) & ~size_t{3};
    CheckLayout(b, cur, end);
    cur += U16At(b, cur);
  }
  EXPECT_EQ(cur, end) << "node at " << pos << " has a length that disagrees with its content";
}

TEST(VersionBlockLayout, HeaderFieldsAtKnownOffsets) {
  const Bytes b = SerializeVersionBlock(TypicalTree());
  ASSERT_FALSE(b.empty());
  EXPECT_EQ(U16At(b, 0), b.size());
  EXPECT_EQ(U16At(b, 2), 52);  // fixed file info, in bytes
  EXPECT_EQ(U16At(b, 4), 0);
  EXPECT_EQ(KeyAt(b, 6), u"VS_VERSION_INFO");
  // 6 + 32 bytes of key end at 38; the value is aligned to 40.
  EXPECT_EQ(U16At(b, 38), 0);
  EXPECT_EQ(U16At(b, 40), 0x04BD);
  EXPECT_EQ(U16At(b, 42), 0xFEEF);
  // The first child follows the value at 40 + 52.
  EXPECT_EQ(U16At(b, 94), 0) << "StringFileInfo carries no value";
  EXPECT_EQ(U16At(b, 96), 1);
  EXPECT_EQ(KeyAt(b, 98), u"StringFileInfo");
  CheckLayout(b, 0, b.size());
}

TEST(VersionBlockLayout, ChildrenAlignedAfterOddLengthKeys) {
  for (size_t n = 1; n <= 6; ++n) {
    const std::u16string key(n, u'k');
    VersionNode root = Container(key, {Text(key, u"abc"), Text(key + u"x", u""), Container(key, {Text(u"z", u"v")})});
    const Bytes b = SerializeVersionBlock(root);
    ASSERT_FALSE(b.empty());
    SCOPED_TRACE(n);
    CheckLayout(b, 0, b.size());
    VersionNode back;
    ASSERT_TRUE(ParseVersionBlock(b, &back));
    ExpectSameTree(root, back);
  }
}

TEST(VersionBlockLayout, LengthExcludesTrailingPadding) {
  // Header (6) + "A\0" (4) = 10; padding to 12 would belong to the parent.
  VersionNode leaf = Container(u"A", {});
  EXPECT_EQ(SerializeVersionBlock(leaf).size(), 10u);
  const Bytes b = SerializeVersionBlock(Container(u"P", {leaf, leaf}));
  // Parent header and key (10), padding, child at 12, padding, child at 24.
  ASSERT_EQ(b.size(), 34u);
  EXPECT_EQ(U16At(b, 0), 34);
  EXPECT_EQ(U16At(b, 12), 10);
  EXPECT_EQ(U16At(b, 22), 0);
  EXPECT_EQ(U16At(b, 24), 10);
}

TEST(VersionBlockRoundTrip, ParseThenSerializeIsByteIdentical) {
  const VersionNode tree =
      TypicalTree({Table(u"080404b0", u"{key}"), Table(u"040904b0", u"{other key that is longer}")});
  const Bytes b = SerializeVersionBlock(tree);
  VersionNode parsed;
  ASSERT_TRUE(ParseVersionBlock(b, &parsed));
  ExpectSameTree(tree, parsed);
  EXPECT_EQ(SerializeVersionBlock(parsed), b);

  FileVersion v;
  ASSERT_TRUE(GetFixedFileVersion(parsed, &v));
  EXPECT_EQ(v.major, 1);
  EXPECT_EQ(v.minor, 2);
  EXPECT_EQ(v.build, 3);
  EXPECT_EQ(v.revision, 4);
}

TEST(VersionBlockRoundTrip, EmptyStringDiffersFromNoValue) {
  VersionNode tree = Container(u"R", {Text(u"empty", u""), Container(u"none", {})});
  VersionNode back;
  ASSERT_TRUE(ParseVersionBlock(SerializeVersionBlock(tree), &back));
  ASSERT_EQ(back.children.size(), 2u);
  EXPECT_TRUE(back.children[0].has_text);
  EXPECT_FALSE(back.children[1].has_text);
}

TEST(VersionBlockRoundTrip, SerializerRefusesWhatCannotBeWritten) {
  VersionNode tree = TypicalTree();
  ASSERT_TRUE(SetStringValue(tree, u"FileDescription", std::u16string(40000, u'x')));
  EXPECT_TRUE(SerializeVersionBlock(tree).empty()) << "lengths would wrap at 16 bits";

  VersionNode binary;
  binary.key = u"B";
  binary.value.assign(0x10000, 1);
  EXPECT_TRUE(SerializeVersionBlock(binary).empty());

  EXPECT_TRUE(SerializeVersionBlock(Text(u"k", std::u16string(u"a\0b", 3))).empty())
      << "a zero inside the text would truncate it on the way back";
  EXPECT_TRUE(SerializeVersionBlock(Text(std::u16string(u"k\0", 2), u"v")).empty());
}

// Blocks as other resource compilers lay them out, written byte by byte.
class ForeignBlock : public ::testing::Test {
 protected:
  void U16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Str(const std::u16string& s) {
    for (char16_t c : s) U16(c);
    U16(0);
  }
  void Pad() {
    while (b.size() % 4) b.push_back(0);
  }
  // A String node whose wValueLength is given verbatim.
  void StringNode(const std::u16string& key, const std::u16string& text, uint16_t declared) {
    const size_t start = b.size();
    U16(0);
    U16(declared);
    U16(1);
    Str(key);
    Pad();
    Str(text);
    PatchLength(start, b.size());
  }
  void PatchLength(size_t at, size_t end) {
    b[at] = static_cast<uint8_t>(end - at);
    b[at + 1] = static_cast<uint8_t>((end - at) >> 8);
  }
  Bytes b;
};

TEST_F(ForeignBlock, TextLengthsInBytesOrWithoutTerminatorAreRead) {
  // Nesting lengths are patched afterwards.
  U16(0);
  U16(0);
  U16(1);
  Str(u"R");
  Pad();
  const size_t sfi = b.size();
  U16(0);
  U16(0);
  U16(1);
  Str(u"StringFileInfo");
  Pad();
  const size_t table = b.size();
  U16(0);
  U16(0);
  U16(1);
  Str(u"080404b0");
  Pad();
  StringNode(u"FileDescription", u"{abc}", 12);  // bytes incl. terminator
  Pad();
  StringNode(u"Comments", u"hello", 5);  // units, terminator left out
  Pad();
  // Node length stops short of the terminator.
  const size_t cut = b.size();
  StringNode(u"Cut", u"abc", 3);
  PatchLength(cut, b.size() - 2);
  Pad();
  // Empty string whose terminator is present but not counted at all.
  StringNode(u"Empty", u"", 0);
  const size_t end = b.size();
  for (size_t at : {size_t{0}, sfi, table}) PatchLength(at, end);
  b.insert(b.end(), {0, 0, 0, 0});  // resource padding past the root

  VersionNode root;
  ASSERT_TRUE(ParseVersionBlock(b, &root));
  EXPECT_EQ(GetStringValue(root, u"FileDescription"), u"{abc}");
  EXPECT_EQ(GetStringValue(root, u"Comments"), u"hello");
  EXPECT_EQ(GetStringValue(root, u"Cut"), u"abc");
  bool found = false;
  EXPECT_EQ(GetStringValue(root, u"Empty", &found), u"");
  EXPECT_TRUE(found);

  // Written back, text lengths are counted in units with the terminator.
  const Bytes out = SerializeVersionBlock(root);
  ASSERT_FALSE(out.empty());
  CheckLayout(out, 0, out.size());
  VersionNode again;
  ASSERT_TRUE(ParseVersionBlock(out, &again));
  ExpectSameTree(root, again);
}

TEST(VersionBlockMalformed, EveryTruncationIsRejected) {
  const Bytes full = SerializeVersionBlock(TypicalTree());
  for (size_t n = 0; n < full.size(); ++n) {
    const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    VersionNode root;
    EXPECT_FALSE(ParseVersionBlock(cut, &root)) << "accepted " << n << " of " << full.size();
  }
}

TEST(VersionBlockMalformed, GarbledBytesNeverCrash) {
  const Bytes full = SerializeVersionBlock(TypicalTree());
  for (size_t i = 0; i < full.size(); ++i) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      Bytes bad = full;
      bad[i] = v;
      VersionNode root;
      if (ParseVersionBlock(bad, &root)) {
        // Whatever was accepted must be writable and readable again.
        const Bytes again = SerializeVersionBlock(root);
        VersionNode back;
        if (!again.empty()) {
          EXPECT_TRUE(ParseVersionBlock(again, &back));
        }
      }
    }
  }
}

TEST(VersionBlockMalformed, InconsistentHeadersAreRejected) {
  const Bytes good = SerializeVersionBlock(TypicalTree());
  VersionNode root;
  ASSERT_TRUE(ParseVersionBlock(good, &root));
  const size_t sfi = 92;  // first child, see HeaderFieldsAtKnownOffsets

  Bytes bad = good;
  bad[sfi] = 0xFF;  // child claims more than its parent holds
  bad[sfi + 1] = 0x7F;
  EXPECT_FALSE(ParseVersionBlock(bad, &root));

  bad = good;
  bad[sfi] = 4;  // shorter than any header
  bad[sfi + 1] = 0;
  EXPECT_FALSE(ParseVersionBlock(bad, &root));

  bad = good;
  bad[4] = 2;  // unknown wType
  EXPECT_FALSE(ParseVersionBlock(bad, &root));

  bad = good;
  bad[2] = 0xF0;  // binary value runs past the node
  EXPECT_FALSE(ParseVersionBlock(bad, &root));

  // Key without a terminator inside the node.
  Bytes unterminated = {10, 0, 0, 0, 0, 0, 'a', 0, 'b', 0};
  EXPECT_FALSE(ParseVersionBlock(unterminated, &root));

  EXPECT_FALSE(ParseVersionBlock({}, &root));
}

TEST(VersionBlockMalformed, DeepNestingIsRejected) {
  // Each level: header + key "n\0" (10 bytes, padded to 12) + the next level.
  const size_t depth = 2000;
  Bytes b(depth * 12 - 2, 0);
  for (size_t i = 0; i < depth; ++i) {
    const size_t pos = i * 12, len = b.size() - pos;
    b[pos] = static_cast<uint8_t>(len);
    b[pos + 1] = static_cast<uint8_t>(len >> 8);
    b[pos + 4] = 1;
    b[pos + 6] = 'n';
  }
  VersionNode root;
  EXPECT_FALSE(ParseVersionBlock(b, &root));
}

TEST(VersionBlockStrings, SetReachesEveryTable) {
  VersionNode tree =
      TypicalTree({Table(u"080404b0", u"{old}"), Container(u"040904b0", {Text(u"CompanyName", u"Maker")})});
  ASSERT_TRUE(SetStringValue(tree, u"FileDescription", u"{new}"));

  const Bytes b = SerializeVersionBlock(tree);
  CheckLayout(b, 0, b.size());
  VersionNode back;
  ASSERT_TRUE(ParseVersionBlock(b, &back));
  const auto& tables = back.children.at(0).children;
  ASSERT_EQ(tables.size(), 2u);
  for (const VersionNode& table : tables) {
    int hits = 0;
    for (const VersionNode& s : table.children) {
      if (s.key == u"FileDescription") {
        ++hits;
        EXPECT_EQ(s.text, u"{new}");
      }
    }
    EXPECT_EQ(hits, 1) << "in table of size " << table.children.size();
    EXPECT_EQ(table.children.at(0).text, u"Maker");
  }
  EXPECT_EQ(back.children.at(1).children.at(0).value, Bytes({0x04, 0x08, 0xB0, 0x04}))
      << "VarFileInfo must survive untouched";
}

TEST(VersionBlockStrings, KeyMatchIgnoresCaseAndKeepsOneEntry) {
  VersionNode tree = TypicalTree({Container(u"080404b0", {Text(u"filedescription", u"a")})});
  ASSERT_TRUE(SetStringValue(tree, u"FileDescription", u"b"));
  const auto& entries = tree.children.at(0).children.at(0).children;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, u"b");
  EXPECT_EQ(GetStringValue(tree, u"FILEDESCRIPTION"), u"b");
}

TEST(VersionBlockStrings, LongerAndShorterValuesKeepNeighbours) {
  const std::u16string base = u"{00000000-1111-2222-3333-444444444444}";
  for (const std::u16string& value : {base + u"XY", std::u16string(u"{1}"), std::u16string(u"x"), std::u16string(u""),
                                      std::u16string(300, u'q'), std::u16string(u"\u6e38\u620f")}) {
    VersionNode tree = TypicalTree({Table(u"080404b0", base)});
    const size_t before = SerializeVersionBlock(tree).size();
    ASSERT_TRUE(SetStringValue(tree, u"FileDescription", value));
    const Bytes b = SerializeVersionBlock(tree);
    ASSERT_FALSE(b.empty());
    CheckLayout(b, 0, b.size());
    EXPECT_EQ(U16At(b, 0), b.size());
    if (value.size() > base.size() + 1) {
      EXPECT_GT(b.size(), before);
    }
    if (value.size() + 2 < base.size()) {
      EXPECT_LT(b.size(), before);
    }

    VersionNode back;
    ASSERT_TRUE(ParseVersionBlock(b, &back));
    EXPECT_EQ(GetStringValue(back, u"FileDescription"), value);
    EXPECT_EQ(GetStringValue(back, u"CompanyName"), u"Maker");
    EXPECT_EQ(GetStringValue(back, u"FileVersion"), u"1.2.3.4");
  }
}

TEST(VersionBlockStrings, MissingStringTableIsReported) {
  VersionNode tree = TypicalTree();
  tree.children.erase(tree.children.begin());
  EXPECT_FALSE(SetStringValue(tree, u"FileDescription", u"x"));

  VersionNode empty_info = TypicalTree({});
  EXPECT_FALSE(SetStringValue(empty_info, u"FileDescription", u"x"));

  bool found = true;
  EXPECT_EQ(GetStringValue(tree, u"FileDescription", &found), u"");
  EXPECT_FALSE(found);
}

TEST(VersionBlockStrings, GetReadsOnlyTheFirstTable) {
  VersionNode tree = TypicalTree({Container(u"080404b0", {}), Table(u"040904b0", u"{second}")});
  bool found = true;
  EXPECT_EQ(GetStringValue(tree, u"FileDescription", &found), u"");
  EXPECT_FALSE(found);
}

TEST(VersionBlockFixedInfo, RequiresSignatureAndFullSize) {
  VersionNode root = TypicalTree();
  FileVersion v;
  root.value[0] ^= 1;
  EXPECT_FALSE(GetFixedFileVersion(root, &v));
  root = TypicalTree();
  root.value.resize(51);
  EXPECT_FALSE(GetFixedFileVersion(root, &v));
}

}  // namespace
}  // namespace brand
