// Raw DEFLATE decompression.
//
// The data is a sequence of blocks, each opening with three bits read least significant
// first: BFINAL (this is the last block) and BTYPE:
//
//   0  stored:  skip to a byte boundary, LEN and its complement NLEN (2 bytes each,
//               little-endian), then LEN bytes as they are
//   1  fixed:   literal/length and distance codes of the fixed Huffman tables
//   2  dynamic: HLIT (5 bits, +257), HDIST (5, +1), HCLEN (4, +4), then HCLEN 3-bit lengths
//               of the code-length code in the order of kCodeLengthOrder, then the lengths of
//               the HLIT + HDIST codes written with it (16: the previous length 3-6 times,
//               17: zero 3-10 times, 18: zero 11-138 times)
//
// In a compressed block a literal/length symbol below 256 is a byte, 256 ends the block,
// and 257-285 give a length (base plus extra bits) followed by a distance symbol (base
// plus extra bits) that copies from the output already made. Huffman codes are canonical:
// they are read one bit at a time, most significant first, and decoded by walking the
// number of codes of each length.
#include "zip_inflate.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

constexpr int kMaxBits = 15;
constexpr int kLiteralCodes = 288;
constexpr int kDistanceCodes = 30;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, kDistanceCodes> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, kDistanceCodes> kDistanceExtra = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

class BitReader {
 public:
  explicit BitReader(std::string_view input) : input_(input) {}

  // The next count bits (at most 16), least significant first.
  bool bits(int count, uint32_t& value) {
    while (held_ < count) {
      if (position_ >= input_.size()) return false;
      buffer_ |= static_cast<uint32_t>(static_cast<uint8_t>(input_[position_++])) << held_;
      held_ += 8;
    }
    value = buffer_ & ((1u << count) - 1);
    buffer_ >>= count;
    held_ -= count;
    return true;
  }

  // Fewer than 8 bits are ever held, so dropping them lands on the next whole byte.
  void alignToByte() {
    buffer_ = 0;
    held_ = 0;
  }

  bool bytes(size_t count, std::string_view& out) {
    if (input_.size() - position_ < count) return false;
    out = input_.substr(position_, count);
    position_ += count;
    return true;
  }

 private:
  std::string_view input_;
  size_t position_ = 0;
  uint32_t buffer_ = 0;
  int held_ = 0;
};

// A canonical Huffman code: how many codes each length has, and the symbols in code order.
struct Huffman {
  std::array<uint16_t, kMaxBits + 1> counts{};
  std::vector<uint16_t> symbols;

  // False for a code with more codes than its lengths allow.
  bool build(const uint8_t* lengths, int symbolCount) {
    counts.fill(0);
    for (int s = 0; s < symbolCount; ++s) ++counts[lengths[s]];
    int left = 1;
    for (int length = 1; length <= kMaxBits; ++length) {
      left = (left << 1) - counts[length];
      if (left < 0) return false;
    }
    std::array<uint16_t, kMaxBits + 2> offsets{};
    for (int length = 1; length <= kMaxBits; ++length) offsets[length + 1] = offsets[length] + counts[length];
    symbols.assign(symbolCount, 0);
    for (int s = 0; s < symbolCount; ++s) {
      if (lengths[s] != 0) symbols[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    return true;
  }

  // The next symbol; -1 at the end of the input or on a code the table lacks.
  int decode(BitReader& in) const {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
      uint32_t bit = 0;
      if (!in.bits(1, bit)) return -1;
      code |= static_cast<int>(bit);
      int count = counts[length];
      if (code - first < count) return symbols[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }
};

class Inflater {
 public:
  Inflater(std::string_view compressed, size_t limit) : in_(compressed), limit_(limit) {}

  std::optional<std::string> run() {
    uint32_t last = 0;
    do {
      uint32_t type = 0;
      if (!in_.bits(1, last) || !in_.bits(2, type)) return std::nullopt;
      bool ok = false;
      if (type == 0) ok = stored();
      if (type == 1) ok = fixed();
      if (type == 2) ok = dynamic();
      if (!ok) return std::nullopt;
    } while (last == 0);
    return std::move(out_);
  }

 private:
  bool stored() {
    in_.alignToByte();
    std::string_view header;
    if (!in_.bytes(4, header)) return false;
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(header[i])); };
    uint32_t length = byte(0) | byte(1) << 8;
    uint32_t complement = byte(2) | byte(3) << 8;
    if (length != (~complement & 0xffff)) return false;
    std::string_view data;
    if (!in_.bytes(length, data) || out_.size() + length > limit_) return false;
    out_.append(data);
    return true;
  }

  bool fixed() {
    std::array<uint8_t, kLiteralCodes> literal{};
    for (int s = 0; s < kLiteralCodes; ++s) literal[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::array<uint8_t, kDistanceCodes> distance{};
    distance.fill(5);
    Huffman literals;
    Huffman distances;
    literals.build(literal.data(), kLiteralCodes);
    distances.build(distance.data(), kDistanceCodes);
    return codes(literals, distances);
  }

  bool dynamic() {
    uint32_t literalCount = 0;
    uint32_t distanceCount = 0;
    uint32_t lengthCount = 0;
    if (!in_.bits(5, literalCount) || !in_.bits(5, distanceCount) || !in_.bits(4, lengthCount)) return false;
    literalCount += 257;
    distanceCount += 1;
    lengthCount += 4;
    if (literalCount > 286 || distanceCount > kDistanceCodes) return false;

    std::array<uint8_t, 19> codeLengths{};
    for (uint32_t i = 0; i < lengthCount; ++i) {
      uint32_t length = 0;
      if (!in_.bits(3, length)) return false;
      codeLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    Huffman lengthCode;
    if (!lengthCode.build(codeLengths.data(), 19)) return false;

    std::array<uint8_t, 286 + kDistanceCodes> lengths{};
    uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;) {
      int symbol = lengthCode.decode(in_);
      if (symbol < 0) return false;
      if (symbol < 16) {
        lengths[i++] = static_cast<uint8_t>(symbol);
        continue;
      }
      uint8_t value = 0;
      uint32_t repeat = 0;
      if (symbol == 16) {
        if (i == 0 || !in_.bits(2, repeat)) return false;
        value = lengths[i - 1];
        repeat += 3;
      } else if (symbol == 17) {
        if (!in_.bits(3, repeat)) return false;
        repeat += 3;
      } else {
        if (!in_.bits(7, repeat)) return false;
        repeat += 11;
      }
      if (i + repeat > total) return false;
      while (repeat-- > 0) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;  // a block must be able to end

    Huffman literals;
    Huffman distances;
    if (!literals.build(lengths.data(), static_cast<int>(literalCount))) return false;
    if (!distances.build(lengths.data() + literalCount, static_cast<int>(distanceCount))) return false;
    return codes(literals, distances);
  }

  bool codes(const Huffman& literals, const Huffman& distances) {
    for (;;) {
      int symbol = literals.decode(in_);
      if (symbol < 0) return false;
      if (symbol < 256) {
        if (out_.size() >= limit_) return false;
        out_.push_back(static_cast<char>(symbol));
        continue;
      }
      if (symbol == 256) return true;
      symbol -= 257;
      if (symbol >= static_cast<int>(kLengthBase.size())) return false;
      uint32_t extra = 0;
      if (!in_.bits(kLengthExtra[symbol], extra)) return false;
      size_t length = kLengthBase[symbol] + extra;

      int code = distances.decode(in_);
      if (code < 0 || code >= kDistanceCodes) return false;
      if (!in_.bits(kDistanceExtra[code], extra)) return false;
      size_t distance = kDistanceBase[code] + extra;
      if (distance > out_.size() || out_.size() + length > limit_) return false;
      // Byte by byte: a copy may overlap the bytes it makes.
      size_t from = out_.size() - distance;
      for (size_t i = 0; i < length; ++i) out_.push_back(out_[from + i]);
    }
  }

  BitReader in_;
  size_t limit_;
  std::string out_;
};

}  // namespace

std::optional<std::string> zipInflate(std::string_view compressed, size_t limit) {
  return Inflater(compressed, limit).run();
}
