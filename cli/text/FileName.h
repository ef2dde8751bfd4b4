// Names of files the tool writes from names that came with messages (an
// attachment's file name, a conversation's title): whatever the name, the
// file lands inside the folder chosen for it, as one new file.
#ifndef ZUSMS_CLI_TEXT_FILENAME_H_
#define ZUSMS_CLI_TEXT_FILENAME_H_

#include <string>
#include <string_view>
#include <unordered_set>

namespace zusms::cli {

// `name` as one file name that every system takes and that names nothing
// but a new entry of the folder: only what follows its last "/" or "\";
// control characters, bidirectional controls and the characters Windows
// refuses (<>:"/\|?*) as "_"; no leading or trailing dots and spaces (so
// never "." or ".."); a device name of Windows (CON, NUL, COM1, LPT1, ...,
// with any extension, in any case) with "_" before it; at most 120 bytes
// of UTF-8, the extension kept, never cut inside a character. `fallback`
// (made safe the same way) when nothing is left; a name that is an
// extension alone (".jpg") gives the fallback's stem that extension.
std::string SafeFileName(std::string_view name, std::string_view fallback);

// The names taken in one folder, compared as a file system that ignores
// case and composition would (so "Photo.jpg", "PHOTO.JPG" and a decomposed
// "Photo.jpg" are one name): those already there, and those taken since.
class UnusedFileNames {
 public:
  // Reads the names the folder holds; none when it does not exist yet.
  explicit UnusedFileNames(const std::string& dir);
  // `name` (a SafeFileName), or "stem (2).ext", "stem (3).ext", ...: the
  // first that the folder does not hold, which is then taken.
  std::string Take(const std::string& name);

 private:
  std::unordered_set<std::string> taken_;  // folded
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_FILENAME_H_
