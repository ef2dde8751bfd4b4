// A power-cut simulator for tests: a SQLite VFS that wraps the default one
// and keeps track of what the disk itself holds, beside what the operating
// system shows.
//
// Every write reaches the file at once (the operating system's cache), but
// it is on the disk only once its file has been synced. A file or folder
// made, or a file deleted, since the simulator was armed is on the disk only
// once the folder holding it has been synced. Folder syncs are seen through
// the unix VFS's "openDirectory" system call, which SQLite uses for its own
// and which the store uses too.
//
// At the cut (the chosen write, truncation, sync or delete, or CutNow), the
// files are put into one state the disk could be in after losing power, and
// the process ends at once without closing anything:
// - of the writes not yet synced, a random subset reaches the file: each
//   write is split at 512-byte sector boundaries, each sector of it arrives
//   or not, and those that arrive land in a random order (so a write can be
//   torn at a sector boundary, and an older version of a sector can win);
//   bytes outside the written ones never change;
// - the file's length is its length at its last sync, or its latest length;
// - a name made or deleted without a sync of its folder since is made or
//   deleted, or not (a folder that is not made takes its files with it).
//
// Linux only. Armed once per process: the tests fork a child for each cut.
#ifndef ZUSMS_TESTS_POWERCUT_H_
#define ZUSMS_TESTS_POWERCUT_H_

#include <cstdint>
#include <string>

namespace zusms::testing::powercut {

// The exit status of a process whose power was cut.
constexpr int kCutStatus = 77;

// What a cut did, for the figures.
struct CutReport {
  uint32_t sectors_pending = 0;  // sectors written but not synced
  uint32_t sectors_arrived = 0;  // of those, the ones that reached the disk
  uint32_t names_pending = 0;    // names made or deleted but not synced
  uint32_t names_undone = 0;     // of those, the ones the disk does not have
};

// What goes at the cut: the power, or only the process (the disk then keeps
// everything written, as after a crash of the program alone).
enum class Loss { kPower, kProcess };

// Makes the simulator the default VFS of this process. What exists under
// `root` (an absolute path without a trailing slash) now is on the disk. The
// cut comes just before the `cut_at`-th write, truncation, sync or delete
// under `root` (counted from 1; 0: only at CutNow). `seed` decides what
// survives. `report`, when not null, receives what the cut did (put it in
// memory shared with the parent).
void Arm(const std::string& root, uint64_t cut_at, uint64_t seed, Loss loss, CutReport* report);

// The writes, truncations, syncs and deletes counted so far.
uint64_t Events();

// Cuts now: the process ends with kCutStatus.
[[noreturn]] void CutNow();

}  // namespace zusms::testing::powercut

#endif  // ZUSMS_TESTS_POWERCUT_H_
