#include "engine/lzari.h"

#include <cstring>

namespace {

constexpr int kRingSize = 4096;
constexpr int kRingMask = kRingSize - 1;
constexpr int kMaxMatch = 60;
constexpr int kThreshold = 2;
constexpr int kSymbolCount = 256 - kThreshold + kMaxMatch;
constexpr int kSpaceFill = kRingSize - kMaxMatch;
// Our encoder reaches no further back than the standard one, so that decoders
// with a smaller reach still read our streams.
constexpr int kMaxDistance = kRingSize - kMaxMatch;

constexpr uint32_t kQ1 = 0x8000;
constexpr uint32_t kQ2 = 0x10000;
constexpr uint32_t kQ3 = 0x18000;
constexpr uint32_t kQ4 = 0x20000;
constexpr uint32_t kMaxCum = 0x7fff;
constexpr int kCodeBits = 17;

// Both cumulative tables fall from index 0 onwards: the smallest index in
// [1, last] whose entry is not above target (last when none is).
int FirstNotAbove(const uint32_t* cum, int last, uint32_t target) {
  int lo = 1;
  int hi = last;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (cum[mid] > target)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

struct PositionTable {
  uint32_t cum[kRingSize + 1];
  PositionTable() {
    cum[kRingSize] = 0;
    for (int i = kRingSize; i >= 1; --i) cum[i - 1] = cum[i] + 10000 / (i + 200);
  }
};

const PositionTable& Positions() {
  static const PositionTable table;
  return table;
}

// Frequencies of the 314 symbols, kept sorted in decreasing order with the
// cumulative counts that the coder works on. Both directions update it alike.
class SymbolModel {
 public:
  SymbolModel() {
    m_cum[kSymbolCount] = 0;
    for (int sym = kSymbolCount; sym >= 1; --sym) {
      m_charToSym[sym - 1] = sym;
      m_symToChar[sym] = sym - 1;
      m_freq[sym] = 1;
      m_cum[sym - 1] = m_cum[sym] + 1;
    }
    m_freq[0] = 0;  // sentinel for the search in Update
    m_symToChar[0] = 0;
  }

  void Update(int sym) {
    if (m_cum[0] >= kMaxCum) {
      uint32_t total = 0;
      for (int i = kSymbolCount; i > 0; --i) {
        m_cum[i] = total;
        m_freq[i] = (m_freq[i] + 1) >> 1;
        total += m_freq[i];
      }
      m_cum[0] = total;
    }
    int i = sym;
    while (m_freq[i] == m_freq[i - 1]) --i;
    if (i < sym) {
      int chI = m_symToChar[i];
      int chSym = m_symToChar[sym];
      m_symToChar[i] = chSym;
      m_symToChar[sym] = chI;
      m_charToSym[chI] = sym;
      m_charToSym[chSym] = i;
    }
    ++m_freq[i];
    while (--i >= 0) ++m_cum[i];
  }

  // The symbol whose range holds target (< Total()).
  int Find(uint32_t target) const { return FirstNotAbove(m_cum, kSymbolCount, target); }

  uint32_t Total() const { return m_cum[0]; }
  uint32_t Cum(int sym) const { return m_cum[sym]; }
  int SymbolOf(int ch) const { return m_charToSym[ch]; }
  int CharOf(int sym) const { return m_symToChar[sym]; }

 private:
  uint32_t m_freq[kSymbolCount + 1];
  uint32_t m_cum[kSymbolCount + 1];
  int m_charToSym[kSymbolCount];
  int m_symToChar[kSymbolCount + 1];
};

int FindPosition(const uint32_t* cum, uint32_t target) { return FirstNotAbove(cum, kRingSize, target) - 1; }

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
  void Put(int bit) {
    m_acc = static_cast<uint8_t>((m_acc << 1) | bit);
    if (++m_count == 8) {
      m_out.push_back(m_acc);
      m_acc = 0;
      m_count = 0;
    }
  }
  void Flush() {
    if (m_count > 0) m_out.push_back(static_cast<uint8_t>(m_acc << (8 - m_count)));
    m_acc = 0;
    m_count = 0;
  }

 private:
  std::vector<uint8_t>& m_out;
  uint8_t m_acc = 0;
  int m_count = 0;
};

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : m_bits(out), m_positions(Positions().cum) {}

  void EncodeChar(int ch) {
    int sym = m_model.SymbolOf(ch);
    Narrow(m_model.Cum(sym - 1), m_model.Cum(sym), m_model.Total());
    m_model.Update(sym);
  }

  void EncodePosition(int position) { Narrow(m_positions[position], m_positions[position + 1], m_positions[0]); }

  void Finish() {
    // Two more bits (and the pending ones) pin the value inside a quarter
    // that lies wholly in the final interval, whatever a decoder reads after.
    ++m_pending;
    Output(m_low < kQ1 ? 0 : 1);
    m_bits.Flush();
  }

 private:
  void Narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total) {
    uint32_t range = m_high - m_low;
    m_high = m_low + range * cumHigh / total;
    m_low += range * cumLow / total;
    for (;;) {
      if (m_high <= kQ2) {
        Output(0);
      } else if (m_low >= kQ2) {
        Output(1);
        m_low -= kQ2;
        m_high -= kQ2;
      } else if (m_low >= kQ1 && m_high <= kQ3) {
        ++m_pending;
        m_low -= kQ1;
        m_high -= kQ1;
      } else {
        break;
      }
      m_low += m_low;
      m_high += m_high;
    }
  }

  void Output(int bit) {
    m_bits.Put(bit);
    for (; m_pending > 0; --m_pending) m_bits.Put(!bit);
  }

  BitWriter m_bits;
  SymbolModel m_model;
  const uint32_t* m_positions;
  uint32_t m_low = 0;
  uint32_t m_high = kQ4;
  uint32_t m_pending = 0;
};

// Longest-match search over the input preceded by the ring's initial spaces,
// with hash chains on three bytes.
class MatchFinder {
 public:
  explicit MatchFinder(const std::vector<uint8_t>& text)
      : m_text(text), m_head(kHashSize, -1), m_prev(text.size(), -1) {}

  void Insert(int pos) {
    if (static_cast<size_t>(pos) + 2 >= m_text.size()) return;
    uint32_t h = Hash(pos);
    m_prev[pos] = m_head[h];
    m_head[h] = pos;
  }

  // Length (0 when below 3) and distance of the longest match at pos.
  int Find(int pos, int* distance) const {
    int end = static_cast<int>(m_text.size());
    int limit = end - pos < kMaxMatch ? end - pos : kMaxMatch;
    if (limit <= kThreshold) return 0;
    int best = 0;
    const uint8_t* here = &m_text[pos];
    for (int cand = m_head[Hash(pos)]; cand >= 0 && pos - cand <= kMaxDistance; cand = m_prev[cand]) {
      const uint8_t* there = &m_text[cand];
      if (there[best] != here[best]) continue;
      int len = 0;
      while (len < limit && there[len] == here[len]) ++len;
      if (len > best) {
        best = len;
        *distance = pos - cand;
        if (best == limit) break;
      }
    }
    return best > kThreshold ? best : 0;
  }

 private:
  static constexpr uint32_t kHashSize = 1u << 15;
  uint32_t Hash(int pos) const {
    uint32_t v = m_text[pos] | (m_text[pos + 1] << 8) | (static_cast<uint32_t>(m_text[pos + 2]) << 16);
    return (v * 2654435761u) >> 17;
  }

  const std::vector<uint8_t>& m_text;
  std::vector<int> m_head;
  std::vector<int> m_prev;
};

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  int Get() {
    size_t byte = m_bit >> 3;
    int shift = 7 - static_cast<int>(m_bit & 7);
    ++m_bit;
    if (byte >= m_size) return 0;
    return (m_data[byte] >> shift) & 1;
  }
  // Bits taken beyond the end of the stream.
  size_t Overread() const { return m_bit > m_size * 8 ? m_bit - m_size * 8 : 0; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_bit = 0;
};

class Decoder {
 public:
  Decoder(const uint8_t* stream, size_t size) : m_bits(stream, size), m_positions(Positions().cum) {
    for (int i = 0; i < kCodeBits; ++i) m_value = 2 * m_value + m_bits.Get();
  }

  int DecodeChar() {
    uint32_t range = m_high - m_low;
    int sym = m_model.Find(((m_value - m_low + 1) * m_model.Total() - 1) / range);
    Narrow(m_model.Cum(sym - 1), m_model.Cum(sym), m_model.Total());
    int ch = m_model.CharOf(sym);
    m_model.Update(sym);
    return ch;
  }

  int DecodePosition() {
    uint32_t range = m_high - m_low;
    int position = FindPosition(m_positions, ((m_value - m_low + 1) * m_positions[0] - 1) / range);
    Narrow(m_positions[position], m_positions[position + 1], m_positions[0]);
    return position;
  }

  // A well-formed stream is never read more than a code value's width past
  // its end; beyond that the value is made of nothing but padding.
  bool RanDry() const { return m_bits.Overread() > static_cast<size_t>(kCodeBits); }

 private:
  void Narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total) {
    uint32_t range = m_high - m_low;
    m_high = m_low + range * cumHigh / total;
    m_low += range * cumLow / total;
    for (;;) {
      if (m_low >= kQ2) {
        m_value -= kQ2;
        m_low -= kQ2;
        m_high -= kQ2;
      } else if (m_low >= kQ1 && m_high <= kQ3) {
        m_value -= kQ1;
        m_low -= kQ1;
        m_high -= kQ1;
      } else if (m_high > kQ2) {
        break;
      }
      m_low += m_low;
      m_high += m_high;
      m_value = 2 * m_value + m_bits.Get();
    }
  }

  BitReader m_bits;
  SymbolModel m_model;
  const uint32_t* m_positions;
  uint32_t m_low = 0;
  uint32_t m_high = kQ4;
  uint32_t m_value = 0;
};

}  // namespace

const char* LzariStatusText(LzariStatus status) {
  switch (status) {
    case LzariStatus::kOk:
      return "ok";
    case LzariStatus::kNoHeader:
      return "shorter than its length header";
    case LzariStatus::kEmpty:
      return "declared length is 0";
    case LzariStatus::kTooLarge:
      return "declared length above 256 MiB";
    case LzariStatus::kImplausible:
      return "declared length larger than the stream can hold";
    case LzariStatus::kTruncated:
      return "stream ends before the declared length";
  }
  return "unknown";
}

std::vector<uint8_t> LzariEncode(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size / 2 + 16);
  Encoder encoder(out);
  if (size == 0) {
    encoder.Finish();
    return out;
  }
  std::vector<uint8_t> text(kSpaceFill + size, ' ');
  std::memcpy(&text[kSpaceFill], data, size);
  MatchFinder finder(text);
  // Only the spaces just behind the start are needed for matches to reach
  // into them; the reach limit keeps the rest out of sight anyway.
  for (int i = 0; i < kSpaceFill; ++i) finder.Insert(i);
  int pos = kSpaceFill;
  int end = static_cast<int>(text.size());
  while (pos < end) {
    int distance = 0;
    int len = finder.Find(pos, &distance);
    if (len == 0) {
      encoder.EncodeChar(text[pos]);
      finder.Insert(pos);
      ++pos;
      continue;
    }
    encoder.EncodeChar(255 - kThreshold + len);
    encoder.EncodePosition(distance - 1);
    for (int k = 0; k < len; ++k) finder.Insert(pos + k);
    pos += len;
  }
  encoder.Finish();
  return out;
}

LzariStatus LzariDecode(const uint8_t* stream, size_t streamSize, size_t decodedSize, std::vector<uint8_t>& out) {
  out.assign(decodedSize, 0);
  uint8_t ring[kRingSize];
  std::memset(ring, ' ', kSpaceFill);
  std::memset(ring + kSpaceFill, 0, kRingSize - kSpaceFill);
  int r = kSpaceFill;
  Decoder decoder(stream, streamSize);
  size_t count = 0;
  while (count < decodedSize) {
    if (decoder.RanDry()) {
      out.clear();
      return LzariStatus::kTruncated;
    }
    int c = decoder.DecodeChar();
    if (c < 256) {
      out[count++] = static_cast<uint8_t>(c);
      ring[r] = static_cast<uint8_t>(c);
      r = (r + 1) & kRingMask;
      continue;
    }
    int from = (r - decoder.DecodePosition() - 1) & kRingMask;
    int len = c - 255 + kThreshold;
    for (int k = 0; k < len && count < decodedSize; ++k) {
      uint8_t b = ring[(from + k) & kRingMask];
      out[count++] = b;
      ring[r] = b;
      r = (r + 1) & kRingMask;
    }
  }
  if (decoder.RanDry()) {
    out.clear();
    return LzariStatus::kTruncated;
  }
  return LzariStatus::kOk;
}

std::vector<uint8_t> LzariPack(const uint8_t* data, size_t size) {
  uint32_t n = static_cast<uint32_t>(size);
  std::vector<uint8_t> out = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 24)};
  std::vector<uint8_t> stream = LzariEncode(data, size);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

LzariStatus LzariUnpack(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& out) {
  out.clear();
  if (packedSize < kLzariHeaderSize) return LzariStatus::kNoHeader;
  uint32_t length = packed[0] | (packed[1] << 8) | (packed[2] << 16) | (static_cast<uint32_t>(packed[3]) << 24);
  if (length == 0) return LzariStatus::kEmpty;
  if (length > kLzariMaxDecodedSize) return LzariStatus::kTooLarge;
  uint64_t streamSize = packedSize - kLzariHeaderSize;
  if (length > kLzariMaxRatio * streamSize + kLzariRatioSlack) return LzariStatus::kImplausible;
  return LzariDecode(packed + kLzariHeaderSize, packedSize - kLzariHeaderSize, length, out);
}
