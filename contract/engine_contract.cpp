#include "contract/engine_contract.h"

#include <cctype>

#include "contract/text.h"

namespace engine_contract {
namespace {

void Put(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Get(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
  return value;
}

const char kLongPrefix[] = "PDown://";
const char kFlags[] = "b7=1";
const char kH1Key[] = "h1=";

bool IsMd5Text(const std::string& s) {
  if (s.size() != 32) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

}  // namespace

void EncodeStatus(const TaskStatus& fields, uint8_t* record) {
  Put(record + kTotalOffset, fields.total, 8);
  Put(record + kDoneOffset, fields.done, 8);
  Put(record + kLinkSpeedOffset, fields.linkSpeed, 4);
  Put(record + kOtherSpeedOffset, fields.otherSpeed, 4);
  record[kStateOffset] = fields.state;
  Put(record + kPeerBytesOffset, fields.peerBytes, 8);
  Put(record + kServedBytesOffset, fields.servedBytes, 8);
}

TaskStatus DecodeStatus(const uint8_t* record) {
  TaskStatus fields;
  fields.total = Get(record + kTotalOffset, 8);
  fields.done = Get(record + kDoneOffset, 8);
  fields.linkSpeed = static_cast<uint32_t>(Get(record + kLinkSpeedOffset, 4));
  fields.otherSpeed = static_cast<uint32_t>(Get(record + kOtherSpeedOffset, 4));
  fields.state = record[kStateOffset];
  fields.peerBytes = Get(record + kPeerBytesOffset, 8);
  fields.servedBytes = Get(record + kServedBytesOffset, 8);
  return fields;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool IsHttpUrl(const std::string& url) {
  return (StartsWithNoCase(url, "http://") && url.size() > 7) || (StartsWithNoCase(url, "https://") && url.size() > 8);
}

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::u16string EncodeOptionText(const std::wstring& text) { return gd_text::WideToUtf16(text); }

std::string DecodeOptionText(const void* value, int bytes) {
  const uint8_t* p = static_cast<const uint8_t*>(value);
  std::wstring wide;
  for (int i = 0; p && i + 1 < bytes; i += 2) wide += static_cast<wchar_t>(p[i] | (p[i + 1] << 8));
  std::string text = gd_text::WideToUtf8(wide);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::wstring BuildTaskLink(const std::wstring& url, const std::wstring& md5Text) {
  return Widen(kLongPrefix) + Widen(kFlags) + L"|" + url + L"|" + Widen(kH1Key) + md5Text;
}

TaskLink ParseTaskLink(const std::string& link) {
  TaskLink out;
  const std::string text = gd_text::Trim(link, gd_text::kCSpace);
  if (StartsWithNoCase(text, kLongPrefix)) {
    const std::string rest = text.substr(sizeof(kLongPrefix) - 1);
    size_t pos = 0;
    while (pos <= rest.size()) {
      const size_t bar = rest.find('|', pos);
      const std::string field = rest.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
      if (StartsWithNoCase(field, kH1Key)) {
        out.h1 = gd_text::Trim(field.substr(sizeof(kH1Key) - 1), gd_text::kCSpace);
      } else if (IsHttpUrl(field)) {
        out.url = field;
      }
      if (bar == std::string::npos) break;
      pos = bar + 1;
    }
  } else {
    out.url = text;
  }
  for (char& c : out.h1) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  out.valid = IsHttpUrl(out.url) && (out.h1.empty() || IsMd5Text(out.h1));
  return out;
}

}  // namespace engine_contract
