#include "text/FileName.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <utf8.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

namespace zusms::cli {

namespace {

constexpr size_t kMostBytes = 120;
constexpr size_t kMostExtension = 16;  // bytes with the dot; a longer "extension" is none

bool Refused(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;  // C0, DEL, C1
  if (c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
      (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029 || c == 0xFEFF) {
    return true;  // reorders or breaks the name on the screen
  }
  return std::u32string_view(U"<>:\"/\\|?*").find(c) != std::u32string_view::npos;
}

// Whether `stem` (the name before its first dot, trailing spaces dropped)
// is one of the device names of Windows.
bool DeviceName(std::string stem) {
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  static constexpr std::array<std::string_view, 6> kNames = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  if (std::find(kNames.begin(), kNames.end(), stem) != kNames.end()) return true;
  if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string_view digit = std::string_view(stem).substr(3);
  // COM1 to COM9, and the superscript digits Windows takes as well.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\u00B9" ||
         digit == "\u00B2" || digit == "\u00B3";
}

// The longest prefix of `text` of at most `bytes` bytes that ends between
// characters.
std::string_view CutAt(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

std::string Cleaned(std::string_view name) {
  // What follows the last separator of either system.
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string out;
  std::string valid;
  utf8::replace_invalid(name.begin(), name.end(), std::back_inserter(valid));
  for (auto it = valid.begin(); it != valid.end();) {
    const char32_t c = utf8::next(it, valid.end());
    if (Refused(c)) {
      out += '_';
    } else {
      utf8::append(c, std::back_inserter(out));
    }
  }
  const auto edge = [](char c) { return c == ' ' || c == '.'; };
  while (!out.empty() && edge(out.back())) out.pop_back();
  const auto first = std::find_if_not(out.begin(), out.end(), edge);
  out.erase(out.begin(), first);
  if (out.empty()) return out;
  const size_t dot = out.find('.');
  if (DeviceName(out.substr(0, dot))) out = "_" + out;
  if (out.size() > kMostBytes) {
    const size_t ext = out.rfind('.');
    const std::string_view extension =
        ext != std::string::npos && ext > 0 && out.size() - ext <= kMostExtension
            ? std::string_view(out).substr(ext)
            : std::string_view();
    std::string cut(CutAt(out, kMostBytes - extension.size()));
    while (!cut.empty() && edge(cut.back())) cut.pop_back();
    out = cut + std::string(extension);
  }
  return out;
}

// The name as a file system that ignores case and composition compares it.
std::string Folded(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  if (U_FAILURE(status)) return name;
  const icu::UnicodeString folded = fold->normalize(icu::UnicodeString::fromUTF8(name), status);
  std::string out;
  return U_SUCCESS(status) ? folded.toUTF8String(out) : name;
}

}  // namespace

std::string SafeFileName(std::string_view name, std::string_view fallback) {
  std::string safe = Cleaned(name);
  // A name that is an extension alone (".jpg", blanks around it or not) is
  // the fallback's with it.
  const size_t slash = name.find_last_of("/\\");
  std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  base.remove_prefix(std::min(base.find_first_not_of(' '), base.size()));
  base.remove_suffix(base.size() - std::min(base.find_last_not_of(' ') + 1, base.size()));
  if (!safe.empty() && base.starts_with('.') && base.find('.', 1) == std::string_view::npos) {
    safe = Cleaned(std::string(fallback.substr(0, fallback.rfind('.'))) + "." + safe);
  }
  if (safe.empty()) safe = Cleaned(fallback);
  return safe.empty() ? std::string("file") : safe;
}

UnusedFileNames::UnusedFileNames(const std::string& dir) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    taken_.insert(Folded(it->path().filename().string()));
  }
}

std::string UnusedFileNames::Take(const std::string& name) {
  if (taken_.insert(Folded(name)).second) return name;
  const size_t dot = name.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > 0;
  const std::string stem = has_extension ? name.substr(0, dot) : name;
  const std::string extension = has_extension ? name.substr(dot) : "";
  for (size_t n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (taken_.insert(Folded(candidate)).second) return candidate;
  }
}

}  // namespace zusms::cli
