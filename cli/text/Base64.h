// Base64 (RFC 4648, the standard alphabet) as the backups carry binary
// data: decoded a piece at a time as it is read, encoded a piece at a time
// as it is written, so that neither side holds the text whole.
#ifndef ZUSMS_CLI_TEXT_BASE64_H_
#define ZUSMS_CLI_TEXT_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zusms::cli {

// Decodes one value fed in pieces. White space is skipped; padding may be
// left out. The bits of a last group beyond its bytes (the low bits of "eHl",
// which a strict encoder leaves zero) are dropped, not refused: they hold no
// byte, and a sloppy encoder's pictures are still whole pictures. Keeps at
// most `limit` bytes (counting on beyond it), so that a value too long to
// store costs no memory.
class Base64Decoder {
 public:
  explicit Base64Decoder(size_t limit = SIZE_MAX) : limit_(limit) {}
  void Feed(std::string_view text);
  void Feed(char c);
  // Makes the value no base64, for `why`, unless something already did.
  void Refuse(std::string why) {
    if (bad_.empty()) bad_ = std::move(why);
  }
  // Ends the value: why it is not base64, empty when it is.
  std::string Finish();
  // The bytes decoded (the first `limit` of them); their count.
  std::vector<uint8_t>& bytes() { return bytes_; }
  uint64_t size() const { return size_; }

 private:
  void Put(uint8_t b) {
    if (size_++ < limit_) bytes_.push_back(b);
  }
  size_t limit_;
  std::vector<uint8_t> bytes_;
  uint64_t size_ = 0;
  uint32_t bits_ = 0;
  int sextets_ = 0;  // of the group of four being read
  int padding_ = 0;
  std::string bad_;  // the first problem found
};

// Appends the base64 of `n` bytes to `out`. Pieces of a multiple of three
// bytes encode as the whole would, so a long value goes out in pieces.
void AppendBase64(std::string& out, const uint8_t* data, size_t n);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_BASE64_H_
