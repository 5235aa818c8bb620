// Reading and rewriting the binary tree stored in a Windows version
// resource (RT_VERSION). Kept free of any Windows header so that it can be
// unit-tested on the build machine; brand_win.cpp does the Win32 side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brand {

// One node of the tree. Every node has a key; a node carries either a
// binary value (wType 0, e.g. the fixed file info on the root) or a text
// value (wType 1, e.g. a String entry), plus any number of children.
struct VersionNode {
  std::u16string key;
  bool is_text = false;
  // Binary payload; only used when !is_text.
  std::vector<uint8_t> value;
  // Text payload without its terminator; only used when is_text.
  std::u16string text;
  // Containers such as StringFileInfo are text nodes without any value at
  // all, which is written differently from a present-but-empty string.
  bool has_text = false;
  std::vector<VersionNode> children;
};

// Parses a complete block as returned by LoadResource. Bytes after the
// root's declared length (resource padding) are ignored. Returns false for
// truncated or inconsistent data; never reads outside `data`.
bool ParseVersionBlock(const std::vector<uint8_t>& data, VersionNode* out);

// Serializes the tree with every node 32-bit aligned from the block start.
// Returns an empty vector when a node or value would not fit the 16-bit
// length fields of the format.
std::vector<uint8_t> SerializeVersionBlock(const VersionNode& root);

// Sets `key` to `value` in every string table under StringFileInfo, adding
// the entry to tables that lack it. Key names compare without regard to
// ASCII case, as Windows does when looking values up. Returns false when
// there is no string table to put the value in.
bool SetStringValue(VersionNode& root, const std::u16string& key, const std::u16string& value);

// Looks `key` up in the first string table. `found` (optional) tells an
// absent entry apart from an empty one.
std::u16string GetStringValue(const VersionNode& root, const std::u16string& key, bool* found = nullptr);

struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
};

// Reads dwFileVersionMS/LS from the fixed file info on the root. Returns
// false if the root carries no valid fixed file info.
bool GetFixedFileVersion(const VersionNode& root, FileVersion* out);

}  // namespace brand
