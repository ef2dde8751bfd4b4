// Whatever the library accepts, the tool's export writes and its import
// takes back: random records of every family, odd ones most of all, added
// through the C API, exported, imported into a fresh store and read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "RecordTraits.h"
#include "TestDb.h"
#include "Text.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  int64_t Int(int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(engine_);
  }
  template <typename T>
  T Number() {
    const T extremes[] = {0, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()};
    const int64_t pick = Int(0, 4);
    return pick < 3 ? extremes[pick] : static_cast<T>(Int(-3, 40));
  }
  // A text from the list, or random characters, or as long as the field holds.
  void Text(char16_t* field, size_t size) {
    const int64_t pick = Int(0, 3);
    const size_t n = size / sizeof(char16_t);
    std::u16string text = pick < 2    ? kOddTexts[Int(0, std::size(kOddTexts) - 1)]
                          : pick == 3 ? Sample(static_cast<int>(Int(0, 99)), n - 1)
                                      : u"";
    for (int64_t i = pick == 2 ? Int(1, n - 1) : 0; i > 0; --i)
      text += static_cast<char16_t>(Int(0, 3) == 0 ? Int(0x4e00, 0x9fff) : Int(0x20, 0x7e));
    text.resize(std::min(text.size(), n - 1));
    std::memcpy(field, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  }

 private:
  std::mt19937 engine_;
};

// Every field of a head at random, through its field table; its folders
// the store's, or ones that do not exist, or numbers no folder can take.
SmsHead RandomHead(Random& r, const std::vector<int32_t>& folders) {
  SmsHead h{};
  for (const Field& f : FamilyOf<SmsHead>().row_fields) {
    auto* at = reinterpret_cast<char*>(&h) + f.offset;
    if (f.kind == FieldKind::kText) r.Text(reinterpret_cast<char16_t*>(at), f.size);
    const int32_t v = f.kind == FieldKind::kInt16 ? r.Number<int16_t>() : r.Number<int32_t>();
    if (f.kind == FieldKind::kInt16 || f.kind == FieldKind::kInt32) std::memcpy(at, &v, f.size);
  }
  h.fid = r.Int(0, 3) == 0 ? r.Number<int32_t>() : folders[r.Int(0, folders.size() - 1)];
  h.batid = r.Int(0, 1) ? 0 : h.batid;
  h.oldfid = r.Int(0, 1) ? folders[r.Int(0, folders.size() - 1)] : -r.Int(0, 2);
  h.longsms = r.Int(0, 1) ? 0 : h.longsms;
  return h;
}

template <typename Record>
std::vector<Record> All(SmsDatabase* db) {
  uint32_t n = 0;
  EXPECT_EQ(Traits<Record>::Count(db, &n), 0);
  std::vector<Record> all(n);
  EXPECT_EQ(Traits<Record>::All(db, all.data(), n, &n), 0);
  all.resize(n);
  return all;
}

// A folder as another store knows it: a default one by its number, one of
// the user's by its name; a number no folder has is `missing`, or itself.
using FolderNames = std::map<int32_t, std::u16string>;
std::u16string FolderKey(const FolderNames& names, int32_t fid, const std::u16string& missing) {
  const auto found = names.find(fid);
  if (found != names.end())
    return fid <= 14 ? engine::ToUtf16(std::to_string(fid)) : u"named " + found->second;
  return missing.empty() ? u"none " + engine::ToUtf16(std::to_string(fid)) : missing;
}

// The records of a family in a form two stores can share: without the ids
// each store gives, with the folders `folders(record)` points to as
// FolderKey (`missing` for those of the first that no folder has), sorted.
template <typename Record, typename Folders>
std::vector<std::u16string> Shared(SmsDatabase* db, const FolderNames& names, Folders folders,
                                   const std::u16string& missing) {
  std::vector<std::u16string> out;
  const std::vector<Record> all = All<Record>(db);
  // The import gives each message a batid of the new store's own: a head
  // with one is known by the smallest text of the heads it shares it with.
  std::map<std::pair<int32_t, std::u16string>, std::u16string> batches;
  if constexpr (std::is_same_v<Record, SmsHead>) {
    for (const SmsHead& h : all) {
      if (h.batid == 0 || h.longsms < 2) continue;
      auto [it, made] = batches.try_emplace({h.batid, h.tel}, h.content);
      if (!made) it->second = std::min(it->second, std::u16string(h.content));
    }
  }
  for (Record r : all) {
    std::u16string key;
    bool first = true;
    for (int32_t* fid : folders(r)) {
      // The import keeps no number of a folder it does not know but the first.
      const bool lost = !first && !missing.empty() && *fid > 14 && !names.contains(*fid);
      key += (lost ? u"none 0" : FolderKey(names, *fid, first ? missing : u"")) + u"|";
      *fid = 0;
      first = false;
    }
    if constexpr (std::is_same_v<Record, SmsHead>) {
      int32_t read = 1;
      EXPECT_EQ(GetZuSmsHeadRead(db, r.id, &read), 0);
      key += read ? u"read|" : u"unread|";
      if (r.batid != 0)
        key += r.longsms < 2 ? u"own batch|" : u"batch " + batches[{r.batid, r.tel}] + u"|";
      r.batid = 0;
    }
    r.id = 0;
    const auto* bytes = reinterpret_cast<const char16_t*>(&r);
    key.append(bytes, bytes + sizeof r / sizeof(char16_t));
    out.push_back(std::move(key));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every family of a store's user in that form. `as_imported`: as the
// tool's import of it stores them: messages of missing folders in
// "Recovered", folders named like numbers renamed.
std::vector<std::vector<std::u16string>> Contents(SmsDatabase* db, bool as_imported = false) {
  FolderNames names;
  std::vector<std::u16string> folders;
  for (const SmsFolder& f : All<SmsFolder>(db)) {
    names[f.FdId] = f.fname;
    // A name of digits alone would read as a folder number in the tool.
    const std::u16string name(f.fname);
    if (as_imported && f.FdId > 14 && !name.empty() &&
        name.find_first_not_of(u"0123456789") == std::u16string::npos)
      names[f.FdId] += u" (imported)";
    folders.push_back(FolderKey(names, f.FdId, u"") + u" " +
                      engine::ToUtf16(std::to_string(f.password) + " " +
                                      std::to_string(f.privmode) + " " + std::to_string(f.system)));
  }
  const std::u16string missing = as_imported ? u"named Recovered" : u"";
  const auto head_folders = [](SmsHead& h) { return std::vector{&h.fid, &h.oldfid}; };
  const auto filter_folders = [](SmsFilter& f) { return std::vector{&f.folderid}; };
  auto heads = Shared<SmsHead>(db, names, head_folders, missing);
  auto filters = Shared<SmsFilter>(db, names, filter_folders, missing);
  const auto stranded = [&](const std::u16string& r) { return r.starts_with(missing + u"|"); };
  if (as_imported && (std::any_of(heads.begin(), heads.end(), stranded) ||
                      std::any_of(filters.begin(), filters.end(), stranded)))
    folders.push_back(u"named Recovered 0 0 0");
  std::sort(folders.begin(), folders.end());
  const auto none = [](auto&) { return std::vector<int32_t*>{}; };
  return {folders,
          heads,
          filters,
          Shared<SmsContent>(db, names, none, u""),
          Shared<SmsAreaBroadcast>(db, names, none, u""),
          Shared<SmsRecieverHistory>(db, names, none, u""),
          Shared<SmsPhrase>(db, names, none, u"")};
}

// Adds a plain record, the longest one and an empty one of each family.
template <typename... Records>
void AddSome(SmsDatabase* db, int seed) {
  const auto add = [db](auto record) {
    uint32_t id = 0;
    EXPECT_EQ(Traits<decltype(record)>::Add(db, &record, &id), 0);
  };
  ((add(Traits<Records>::Make(seed)), add(Longest<Records>(seed + 1)), add(Records{})), ...);
}

// The number that follows `before` in `text`; -1 when `before` is not there.
long NumberAfter(const std::string& text, const std::string& before) {
  const size_t at = text.find(before);
  return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + before.size(), nullptr, 10);
}

class RoundTrip : public DbTest {
 protected:
  // Runs the tool on the store file `db`; its exit status.
  int Tool(const std::string& db, const std::string& args) {
    const std::string command = std::string("'") + ZUSMS_CLI + "' --db '" + db + "' " + args +
                                " >>'" + dir_.path() + "/tool.log' 2>&1";
    return std::system(command.c_str());
  }
  void ClearLog() { std::fclose(std::fopen((dir_.path() + "/tool.log").c_str(), "wb")); }
  std::string Log() { return ReadFile(dir_.path() + "/tool.log"); }
};

TEST_F(RoundTrip, EveryRecordTheLibraryAcceptsComesBackFromTheJsonExport) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (uint32_t seed = 1; seed <= 30 && std::chrono::steady_clock::now() < deadline; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ClearLog();
    Random r(seed);
    const std::string from = dir_.path() + "/from" + std::to_string(seed) + ".dbf";
    const std::string to = dir_.path() + "/to" + std::to_string(seed) + ".dbf";
    std::vector<std::vector<std::u16string>> before;
    SetEnv("ZUSMS_DB", from);
    {
      StoreHandle db;
      ASSERT_EQ(db.opened(), 0) << LastError();
      std::vector<int32_t> folders;
      std::vector<uint32_t> folder_ids;
      for (const SmsFolder& f : All<SmsFolder>(db)) folders.push_back(f.FdId);
      for (int64_t i = r.Int(0, 3); i > 0; --i) {
        SmsFolder f{};
        r.Text(f.fname, sizeof f.fname);
        f.password = r.Number<int16_t>();
        f.privmode = r.Number<int16_t>();
        uint32_t id = 0;
        if (AddZuSmsFolder(db, &f, &id) == 0) {
          folders.push_back(f.FdId);
          folder_ids.push_back(id);
        }
      }
      for (int64_t i = r.Int(5, 40); i > 0; --i) {
        SmsHead h = RandomHead(r, folders);
        // Now and then the parts of a long message, some of them missing.
        const int64_t parts = r.Int(0, 4) == 0 ? r.Int(2, 4) : 1;
        if (parts > 1) {
          h.batid = static_cast<int32_t>(r.Int(1, 1000));
          h.longsms = static_cast<int16_t>(parts);
        }
        const bool unread = r.Int(0, 2) == 0;
        for (int64_t part = 1; part <= parts; ++part) {
          if (parts > 1) h.index = static_cast<int16_t>(part);
          if (parts > 1 && r.Int(0, 5) == 0) continue;
          uint32_t id = 0;
          ASSERT_EQ(AddZuSmsHead(db, &h, &id), 0) << LastError();
          // Read state, of the whole message: some are unread.
          if (unread) {
            ASSERT_EQ(SetZuSmsHeadRead(db, id, 0), 0);
          }
          r.Text(h.content, sizeof h.content);
        }
      }
      // A folder deleted under its messages (by another program, say): the
      // new store numbers the folders after it one lower.
      if (!folder_ids.empty() && r.Int(0, 1)) {
        ASSERT_EQ(DeleteZuSmsFolder(db, folder_ids.front()), 0) << LastError();
      }
      AddSome<SmsContent, SmsAreaBroadcast, SmsFilter, SmsRecieverHistory, SmsPhrase>(
          db, static_cast<int>(seed) * 10);
      before = Contents(db, true);
    }
    const std::string file = dir_.path() + "/export" + std::to_string(seed) + ".json";
    ASSERT_EQ(Tool(from, "export -o '" + file + "'"), 0) << Log();
    ASSERT_EQ(Tool(to, "import '" + file + "'"), 0) << Log();
    SetEnv("ZUSMS_DB", to);
    {
      StoreHandle db;
      ASSERT_EQ(db.opened(), 0) << LastError();
      const auto after = Contents(db);
      for (size_t f = 0; f < after.size(); ++f) EXPECT_EQ(before[f], after[f]) << "family " << f;
    }
    // The phone-backup XML keeps less (no folders, times to the millisecond,
    // what XML 1.0 can carry), but every message it holds goes back in.
    const std::string xml = dir_.path() + "/export" + std::to_string(seed) + ".xml";
    ClearLog();
    ASSERT_EQ(Tool(from, "export --format xml -o '" + xml + "'"), 0) << Log();
    ASSERT_EQ(Tool(dir_.path() + "/xml" + std::to_string(seed) + ".dbf", "import '" + xml + "'"), 0)
        << Log();
    const std::string log = Log();
    const long exported = NumberAfter(log, "exported ");
    EXPECT_GT(exported, 0) << log;
    EXPECT_EQ(NumberAfter(log, "imported: ") + NumberAfter(log, " added, "), exported) << log;
  }
}

}  // namespace
}  // namespace zusms::testing
