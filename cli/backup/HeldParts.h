// The decoded data of a multimedia message's parts while the message is
// read from a backup, before it is stored: a part's bytes stay in memory
// while the message's parts held there come to at most kHeldInMemory (its
// first part always), and go to a nameless temporary file beyond, so that a message of many large
// parts holds about one of them in memory, not the message.
#ifndef ZUSMS_CLI_BACKUP_HELDPARTS_H_
#define ZUSMS_CLI_BACKUP_HELDPARTS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zusms::cli {

class HeldParts;
class TemporaryFile;

// One part's data: in memory, or kept aside by a HeldParts.
struct PartBytes {
  // In memory, unless kept aside; copies share them.
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  uint64_t size = 0;  // how many, wherever they are
  const HeldParts* aside = nullptr;
  uint64_t at = 0;  // where in its file

  PartBytes() = default;
  explicit PartBytes(std::vector<uint8_t>&& b)
      : bytes(std::make_shared<const std::vector<uint8_t>>(std::move(b))), size(bytes->size()) {}
  // Hands the bytes on in order, in pieces; a Failure when the file
  // cannot be read.
  void Read(const std::function<void(const uint8_t*, size_t)>& piece) const;
  // The bytes in memory: its own, or read into `buffer`.
  const uint8_t* Get(std::vector<uint8_t>& buffer) const;
};

constexpr uint64_t kHeldInMemory = uint64_t{32} << 20;

class HeldParts {
 public:
  HeldParts();
  ~HeldParts();
  HeldParts(const HeldParts&) = delete;
  HeldParts& operator=(const HeldParts&) = delete;
  // Keeps a part of the message being read: in memory within the bound,
  // else moved to the file. A Failure when the file cannot be written.
  void Keep(PartBytes& data);
  // The message has been handed on: what was kept for it is dropped.
  void Clear();
  // Reads `n` bytes at `at` into `to`; a Failure when it cannot.
  void ReadAt(uint64_t at, uint8_t* to, size_t n) const;

 private:
  std::unique_ptr<TemporaryFile> file_;  // made at the first part kept aside
  uint64_t end_ = 0;                     // of what the file holds
  uint64_t in_memory_ = 0;               // bytes of the message's parts kept in memory
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_HELDPARTS_H_
