#include "version_block.h"

#include <cstddef>

namespace brand {
namespace {

// Header fields: wLength, wValueLength, wType.
constexpr size_t kHeaderSize = 6;
// The real tree is four levels deep (root, StringFileInfo, table, String);
// anything much deeper is garbage and must not be allowed to exhaust the
// stack.
constexpr int kMaxDepth = 8;
constexpr size_t kMaxField = 0xFFFF;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

uint16_t ReadU16(const std::vector<uint8_t>& d, size_t pos) {
  return static_cast<uint16_t>(d[pos] | (d[pos + 1] << 8));
}

uint32_t ReadU32(const std::vector<uint8_t>& d, size_t pos) {
  return static_cast<uint32_t>(ReadU16(d, pos)) | (static_cast<uint32_t>(ReadU16(d, pos + 2)) << 16);
}

bool AllZero(const std::vector<uint8_t>& d, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (d[i] != 0) return false;
  }
  return true;
}

// Reads UTF-16 units from [pos, end) up to a zero unit. `next` receives the
// position after the terminator, or `end` when there is none.
bool ReadText(const std::vector<uint8_t>& d, size_t pos, size_t end, std::u16string* text, size_t* next) {
  text->clear();
  while (end - pos >= 2) {
    const uint16_t unit = ReadU16(d, pos);
    pos += 2;
    if (unit == 0) {
      *next = pos;
      return true;
    }
    text->push_back(static_cast<char16_t>(unit));
  }
  *next = end;
  return false;
}

bool ParseNode(const std::vector<uint8_t>& d, size_t pos, size_t limit, int depth, VersionNode* out) {
  if (depth > kMaxDepth) return false;
  if (pos > limit || limit - pos < kHeaderSize) return false;
  const size_t length = ReadU16(d, pos);
  const size_t value_length = ReadU16(d, pos + 2);
  const uint16_t type = ReadU16(d, pos + 4);
  // Smallest possible node: header plus an empty, terminated key.
  if (length < kHeaderSize + 2 || length > limit - pos) return false;
  if (type > 1) return false;
  const size_t end = pos + length;

  size_t cur = 0;
  if (!ReadText(d, pos + kHeaderSize, end, &out->key, &cur)) return false;
  cur = Align4(cur);

  out->is_text = (type == 1);
  out->value.clear();
  out->text.clear();
  out->has_text = false;
  out->children.clear();

  if (value_length > 0) {
    if (cur >= end) return false;
    if (out->is_text) {
      // The declared length cannot be trusted for text: some resource
      // compilers count bytes instead of units, or leave out the
      // terminator. The terminator itself is what ends the string.
      ReadText(d, cur, end, &out->text, &cur);
      out->has_text = true;
    } else {
      if (value_length > end - cur) return false;
      out->value.assign(d.begin() + static_cast<std::ptrdiff_t>(cur),
                        d.begin() + static_cast<std::ptrdiff_t>(cur + value_length));
      cur += value_length;
    }
  }

  for (;;) {
    cur = Align4(cur);
    // A zero tail is padding (or an empty string whose terminator was
    // not counted), not another child.
    if (cur >= end || AllZero(d, cur, end)) break;
    VersionNode child;
    if (!ParseNode(d, cur, end, depth + 1, &child)) return false;
    cur += ReadU16(d, cur);
    out->children.push_back(std::move(child));
  }
  return true;
}

void PutU16(std::vector<uint8_t>& out, size_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void SetU16(std::vector<uint8_t>& out, size_t pos, size_t v) {
  out[pos] = static_cast<uint8_t>(v & 0xFF);
  out[pos + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void PadTo4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// A zero inside a key or text would cut it short when read back, silently
// dropping the rest, so such trees are refused instead.
bool PutText(std::vector<uint8_t>& out, const std::u16string& s) {
  for (char16_t c : s) {
    if (c == 0) return false;
    PutU16(out, c);
  }
  PutU16(out, 0);
  return true;
}

bool AppendNode(std::vector<uint8_t>& out, const VersionNode& node, int depth) {
  if (depth > kMaxDepth) return false;
  const size_t start = out.size();
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, node.is_text ? 1 : 0);
  if (!PutText(out, node.key)) return false;

  size_t value_length = 0;
  if (node.is_text) {
    if (node.has_text) {
      PadTo4(out);
      if (!PutText(out, node.text)) return false;
      value_length = node.text.size() + 1;
    }
  } else if (!node.value.empty()) {
    PadTo4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    value_length = node.value.size();
  }
  if (value_length > kMaxField) return false;

  for (const VersionNode& child : node.children) {
    PadTo4(out);
    if (!AppendNode(out, child, depth + 1)) return false;
  }

  const size_t length = out.size() - start;
  if (length > kMaxField) return false;
  SetU16(out, start, length);
  SetU16(out, start + 2, value_length);
  return true;
}

bool KeyEquals(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

const std::u16string kStringFileInfo = u"StringFileInfo";

}  // namespace

bool ParseVersionBlock(const std::vector<uint8_t>& data, VersionNode* out) {
  VersionNode root;
  if (!ParseNode(data, 0, data.size(), 0, &root)) return false;
  *out = std::move(root);
  return true;
}

std::vector<uint8_t> SerializeVersionBlock(const VersionNode& root) {
  std::vector<uint8_t> out;
  if (!AppendNode(out, root, 0)) return {};
  return out;
}

bool SetStringValue(VersionNode& root, const std::u16string& key, const std::u16string& value) {
  bool any_table = false;
  for (VersionNode& info : root.children) {
    if (!KeyEquals(info.key, kStringFileInfo)) continue;
    for (VersionNode& table : info.children) {
      any_table = true;
      bool present = false;
      // Duplicates are all overwritten so that no reader, whichever
      // copy it picks, sees the old value.
      for (VersionNode& entry : table.children) {
        if (!KeyEquals(entry.key, key)) continue;
        entry.is_text = true;
        entry.has_text = true;
        entry.text = value;
        entry.value.clear();
        present = true;
      }
      if (!present) {
        VersionNode entry;
        entry.key = key;
        entry.is_text = true;
        entry.has_text = true;
        entry.text = value;
        table.children.push_back(std::move(entry));
      }
    }
  }
  return any_table;
}

std::u16string GetStringValue(const VersionNode& root, const std::u16string& key, bool* found) {
  if (found) *found = false;
  for (const VersionNode& info : root.children) {
    if (!KeyEquals(info.key, kStringFileInfo) || info.children.empty()) continue;
    for (const VersionNode& entry : info.children.front().children) {
      if (KeyEquals(entry.key, key)) {
        if (found) *found = true;
        return entry.is_text ? entry.text : std::u16string();
      }
    }
    break;
  }
  return {};
}

bool GetFixedFileVersion(const VersionNode& root, FileVersion* out) {
  if (root.is_text || root.value.size() < kFixedInfoSize) return false;
  if (ReadU32(root.value, 0) != kFixedInfoSignature) return false;
  const uint32_t ms = ReadU32(root.value, 8);
  const uint32_t ls = ReadU32(root.value, 12);
  out->major = static_cast<uint16_t>(ms >> 16);
  out->minor = static_cast<uint16_t>(ms & 0xFFFF);
  out->build = static_cast<uint16_t>(ls >> 16);
  out->revision = static_cast<uint16_t>(ls & 0xFFFF);
  return true;
}

}  // namespace brand
