#include "metalink.h"

#include "sha256.h"

#include "contract/text.h"

#include <expat.h>

#include <cstring>

namespace p2sp {
namespace {

constexpr const char kNs[] = "urn:ietf:params:xml:ns:metalink";
constexpr char kNsSep = '\x01';

std::string Trim(const std::string& s) { return gd_text::Trim(s, gd_text::kXmlSpace); }

// A manifest's numbers have at most 19 digits, below 10^19.
constexpr size_t kManifestDigits = 19;
bool ParseU64(const std::string& s, uint64_t* v) { return s.size() <= kManifestDigits && gd_text::ParseU64(s, v); }

struct State {
  Manifest m;
  std::vector<std::string> path;  // local names of the open elements, metalink namespace only
  std::string text;
  std::string hashType;    // of the open <hash>
  std::string piecesType;  // of the open <pieces>
  bool inFirstFile = false;
  bool sawFile = false;
  bool sawRoot = false;
  bool haveSize = false;
  bool pieceShaSeen = false;
  std::string error;
};

// Element names arrive as "namespace\x01local"; anything outside the metalink
// namespace is an extension and ignored.
std::string Local(const char* name) {
  const char* sep = std::strchr(name, kNsSep);
  if (!sep || static_cast<size_t>(sep - name) != sizeof kNs - 1 || std::strncmp(name, kNs, sizeof kNs - 1) != 0)
    return {};
  return sep + 1;
}

const char* Attr(const char** attrs, const char* name) {
  for (int i = 0; attrs[i]; i += 2)
    if (std::strcmp(attrs[i], name) == 0) return attrs[i + 1];
  return nullptr;
}

void XMLCALL OnStart(void* user, const char* name, const char** attrs) {
  State& st = *static_cast<State*>(user);
  std::string local = Local(name);
  st.path.push_back(local);
  st.text.clear();
  if (st.path.size() == 1) {
    if (local == "metalink") st.sawRoot = true;
    return;
  }
  if (st.path.size() == 2 && local == "file") {
    st.inFirstFile = !st.sawFile;
    st.sawFile = true;
    if (st.inFirstFile) {
      const char* n = Attr(attrs, "name");
      st.m.name = n ? n : "";
    }
    return;
  }
  if (!st.inFirstFile) return;
  if (st.path.size() == 3 && local == "hash") {
    const char* t = Attr(attrs, "type");
    st.hashType = t ? t : "";
  } else if (st.path.size() == 3 && local == "pieces") {
    const char* t = Attr(attrs, "type");
    const char* l = Attr(attrs, "length");
    st.piecesType = t ? t : "";
    if (st.piecesType == "sha-256") {
      if (st.pieceShaSeen) st.error = "two sha-256 <pieces>";
      st.pieceShaSeen = true;
      if (!l || !ParseU64(l, &st.m.pieceLength)) st.error = "<pieces> without a usable length";
    }
  }
}

void XMLCALL OnEnd(void* user, const char*) {
  State& st = *static_cast<State*>(user);
  const std::string local = st.path.empty() ? std::string() : st.path.back();
  const size_t depth = st.path.size();
  std::string text = Trim(st.text);
  st.text.clear();
  if (st.inFirstFile) {
    if (depth == 3 && local == "size") {
      st.haveSize = ParseU64(text, &st.m.size);
      if (!st.haveSize) st.error = "<size> is not a number";
    } else if (depth == 3 && local == "hash" && st.hashType == "sha-256") {
      if (!NormalizeSha256Text(&text)) st.error = "whole-file sha-256 is not 64 hex digits";
      st.m.sha256 = text;
    } else if (depth == 3 && local == "url") {
      if (!text.empty()) st.m.urls.push_back(text);
    } else if (depth == 4 && local == "hash" && st.path[2] == "pieces" && st.piecesType == "sha-256") {
      if (!NormalizeSha256Text(&text)) st.error = "a piece hash is not 64 hex digits";
      st.m.pieces.push_back(text);
    } else if (depth == 2 && local == "file") {
      st.inFirstFile = false;
    }
  }
  st.path.pop_back();
}

void XMLCALL OnText(void* user, const char* s, int len) {
  State& st = *static_cast<State*>(user);
  if (st.text.size() < 64 * 1024) st.text.append(s, static_cast<size_t>(len));
}

// No document type declarations: a manifest has no use for them, and entity
// expansion is the classic way to make a small XML text cost a lot.
void XMLCALL OnDoctype(void* user, const char*, const char*, const char*, int) {
  State& st = *static_cast<State*>(user);
  if (st.error.empty()) st.error = "document type declarations are not accepted";
}

void Escape(const std::string& s, std::string* out) {
  for (char c : s) {
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      default:
        *out += c;
    }
  }
}

}  // namespace

bool ParseMetalink(const std::string& text, Manifest* out, std::string* why) {
  State st;
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNsSep);
  if (!parser) {
    *why = "no parser";
    return false;
  }
  XML_SetUserData(parser, &st);
  XML_SetElementHandler(parser, &OnStart, &OnEnd);
  XML_SetCharacterDataHandler(parser, &OnText);
  XML_SetStartDoctypeDeclHandler(parser, &OnDoctype);
  bool wellFormed = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
  if (!wellFormed) {
    *why = std::string("not well-formed XML: ") + XML_ErrorString(XML_GetErrorCode(parser)) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  if (!wellFormed) return false;
  const Manifest& m = st.m;
  if (!st.error.empty()) {
    *why = st.error;
  } else if (!st.sawRoot) {
    *why = "not a Metalink 4 document";
  } else if (!st.sawFile) {
    *why = "no <file>";
  } else if (!st.haveSize) {
    *why = "no <size>";
  } else if (m.sha256.empty()) {
    *why = "no whole-file sha-256";
  } else if (!st.pieceShaSeen) {
    *why = "no sha-256 <pieces>";
  } else if (m.pieceLength < 1024 || (m.pieceLength & (m.pieceLength - 1)) != 0) {
    *why = "piece length " + std::to_string(m.pieceLength) + " is not a power of two of at least 1024";
  } else if (m.pieces.size() != m.PieceCount()) {
    *why = std::to_string(m.pieces.size()) + " piece hashes for " + std::to_string(m.PieceCount()) + " pieces";
  } else {
    *out = m;
    return true;
  }
  return false;
}

std::string WriteMetalink(const Manifest& m) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<metalink xmlns=\"";
  x += kNs;
  x += "\">\n  <file name=\"";
  Escape(m.name, &x);
  x += "\">\n    <size>" + std::to_string(m.size) + "</size>\n";
  x += "    <hash type=\"sha-256\">" + m.sha256 + "</hash>\n";
  x += "    <pieces length=\"" + std::to_string(m.pieceLength) + "\" type=\"sha-256\">\n";
  for (const auto& p : m.pieces) x += "      <hash>" + p + "</hash>\n";
  x += "    </pieces>\n";
  for (const auto& u : m.urls) {
    x += "    <url>";
    Escape(u, &x);
    x += "</url>\n";
  }
  x += "  </file>\n</metalink>\n";
  return x;
}

}  // namespace p2sp
