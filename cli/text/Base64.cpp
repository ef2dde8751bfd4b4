#include "text/Base64.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace zusms::cli {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte as a base64 character, -1 for the others.
constexpr auto kSextets = [] {
  std::array<int8_t, 256> t{};
  t.fill(-1);
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return t;
}();

int Sextet(char c) { return kSextets[static_cast<unsigned char>(c)]; }

}  // namespace

void Base64Decoder::Feed(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    // Whole groups of four characters at once, between groups.
    if (sextets_ == 0 && padding_ == 0 && bad_.empty()) {
      const size_t groups = static_cast<size_t>(end - p) / 4;
      const size_t room = size_ < limit_ ? (limit_ - size_) / 3 : 0;
      const size_t n = std::min(groups, room);
      const size_t at = bytes_.size();
      bytes_.resize(at + 3 * n);
      uint8_t* out = bytes_.data() + at;
      size_t g = 0;
      for (; g < n; ++g, p += 4, out += 3) {
        const int a = kSextets[p[0]], b = kSextets[p[1]], c = kSextets[p[2]], d = kSextets[p[3]];
        if ((a | b | c | d) < 0) break;
        const uint32_t v = (static_cast<uint32_t>(a) << 18) | (static_cast<uint32_t>(b) << 12) |
                           (static_cast<uint32_t>(c) << 6) | static_cast<uint32_t>(d);
        out[0] = static_cast<uint8_t>(v >> 16);
        out[1] = static_cast<uint8_t>(v >> 8);
        out[2] = static_cast<uint8_t>(v);
      }
      bytes_.resize(at + 3 * g);
      size_ += 3 * g;
      if (p >= end) break;
    }
    Feed(static_cast<char>(*p++));
  }
}

void Base64Decoder::Feed(char c) {
  if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || !bad_.empty()) return;
  if (c == '=') {
    if (sextets_ < 2) bad_ = "a misplaced '='";
    ++padding_;
    if (sextets_ + padding_ > 4) bad_ = "too much padding";
    return;
  }
  const int v = Sextet(c);
  if (v < 0) {
    const auto byte = static_cast<unsigned char>(c);
    bad_ = byte >= 0x20 && byte < 0x7F ? fmt::format("the character '{}'", c)
                                       : fmt::format("the byte 0x{:02X}", byte);
    return;
  }
  if (padding_ > 0) {
    bad_ = "characters after the padding";
    return;
  }
  bits_ = (bits_ << 6) | static_cast<uint32_t>(v);
  if (++sextets_ == 4) {
    Put(static_cast<uint8_t>(bits_ >> 16));
    Put(static_cast<uint8_t>(bits_ >> 8));
    Put(static_cast<uint8_t>(bits_));
    bits_ = 0;
    sextets_ = 0;
  }
}

std::string Base64Decoder::Finish() {
  if (bad_.empty() && sextets_ == 1) bad_ = "a cut last group";
  if (!bad_.empty()) return "not base64: " + bad_;
  if (sextets_ >= 2) Put(static_cast<uint8_t>(bits_ >> (sextets_ == 2 ? 4 : 10)));
  if (sextets_ == 3) Put(static_cast<uint8_t>(bits_ >> 2));
  sextets_ = 0;
  padding_ = 0;
  return {};
}

void AppendBase64(std::string& out, const uint8_t* data, size_t n) {
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < n) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (i + 1 < n ? uint32_t{data[i + 1]} << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
}

}  // namespace zusms::cli
