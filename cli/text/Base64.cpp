#include "text/Base64.h"

#include <fmt/format.h>

namespace zusms::cli {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

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
