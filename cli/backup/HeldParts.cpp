#include "backup/HeldParts.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "text/Interrupt.h"
#include "text/Text.h"

namespace zusms::cli {

namespace {

constexpr size_t kPiece = size_t{1} << 20;

Failure AsideFailure(const std::string& what, int error) {
  return Failure(fmt::format("keeping a large multimedia part in a temporary file in {}: {}{}",
                             TemporaryFolder(), what,
                             error ? std::string(": ") + std::strerror(error) : ""));
}

}  // namespace

void PartBytes::Read(const std::function<void(const uint8_t*, size_t)>& piece) const {
  if (!aside) {
    if (bytes) piece(bytes->data(), bytes->size());
    return;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kPiece)));
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, buffer.size()));
    aside->ReadAt(at + done, buffer.data(), n);
    piece(buffer.data(), n);
    done += n;
  }
}

const uint8_t* PartBytes::Get(std::vector<uint8_t>& buffer) const {
  if (!aside) return bytes ? bytes->data() : nullptr;
  buffer.resize(static_cast<size_t>(size));
  aside->ReadAt(at, buffer.data(), buffer.size());
  return buffer.data();
}

HeldParts::HeldParts() = default;
HeldParts::~HeldParts() = default;

void HeldParts::Keep(PartBytes& data) {
  // The first part stays in memory, whatever its size: one part of the
  // message is held in memory while it is decoded anyway.
  if (data.aside || data.size == 0 || in_memory_ == 0 || in_memory_ + data.size <= kHeldInMemory) {
    if (!data.aside) in_memory_ += data.size;
    return;
  }
  if (!file_) {
    auto file = std::make_unique<TemporaryFile>(TemporaryFolder() + "/zusms-parts-XXXXXX",
                                                TemporaryFile::kNameless);
    if (file->error() != 0) throw AsideFailure("it cannot be made", file->error());
    file_ = std::move(file);
  }
  if (::lseek(file_->fd(), static_cast<off_t>(end_), SEEK_SET) < 0)
    throw AsideFailure("seeking", errno);
  if (const int error = WriteAll(file_->fd(), reinterpret_cast<const char*>(data.bytes->data()),
                                 data.bytes->size())) {
    throw AsideFailure("writing", error);
  }
  data.aside = this;
  data.at = end_;
  end_ += data.size;
  data.bytes.reset();
}

void HeldParts::Clear() {
  in_memory_ = 0;
  if (file_ && end_ > 0) {
    // Its blocks go back; a file that keeps them is only larger.
    (void)::ftruncate(file_->fd(), 0);
  }
  end_ = 0;
}

void HeldParts::ReadAt(uint64_t at, uint8_t* to, size_t n) const {
  while (n > 0) {
    const ssize_t got = ::pread(file_->fd(), to, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw AsideFailure("reading it back", got < 0 ? errno : 0);
    to += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
}

}  // namespace zusms::cli
