// A power-cut simulator for tests: a SQLite VFS over the default one that
// keeps what the disk holds beside what the operating system shows. A write
// is on the disk once its file is synced; a name made or deleted since the
// arming, once its folder is synced (seen through the unix VFS's
// "openDirectory" system call, which SQLite and the store use for it).
//
// At the cut the files take one state the disk could hold after losing
// power, and the process ends at once: each unsynced write splits into
// 512-byte sectors that arrive or not, in a random order (torn writes, an
// older sector winning); a file's length is that of its last sync or its
// latest; an unsynced name is made or deleted, or not (a folder not made
// takes its files). Linux only; armed once per process (a child per cut).
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
