#include "ScaleData.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

// Each row draws from its own generator, seeded by the row number, so any
// row can be made alone and every run makes the same file.
class Random {
 public:
  explicit Random(uint64_t row) : state_(0x5eed2026u ^ (row * 0x9e3779b97f4a7c15u)) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t state_;
};

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = c;
    size_t extra = 0;
    if (c >= 0xf0) {
      cp = c & 0x07u;
      extra = 3;
    } else if (c >= 0xe0) {
      cp = c & 0x0fu;
      extra = 2;
    } else if (c >= 0xc0) {
      cp = c & 0x1fu;
      extra = 1;
    }
    for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3fu);
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xd800 + (cp >> 10));
      out += static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// The corpus's message texts, read once.
const std::vector<std::u16string>& Corpus() {
  static const std::vector<std::u16string> texts = [] {
    std::ifstream in(ZUSMS_BENCH_CORPUS);
    if (!in) throw std::runtime_error("cannot read " ZUSMS_BENCH_CORPUS);
    std::vector<std::u16string> out;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      if (tab != std::string::npos) out.push_back(Utf16(line.substr(tab + 1)));
    }
    return out;
  }();
  return texts;
}

// Everyday Chinese words of text messages, joined into texts of real lengths.
constexpr const char16_t* kWords[] = {
    u"你好", u"明天", u"晚上",   u"见面",     u"谢谢",   u"收到", u"好的", u"我们",   u"一起",
    u"吃饭", u"电话", u"回家",   u"开会",     u"公司",   u"时间", u"地方", u"已经",   u"没有",
    u"知道", u"什么", u"可以",   u"现在",     u"今天",   u"朋友", u"生日", u"快乐",   u"工作",
    u"下午", u"上午", u"机场",   u"火车站",   u"路上",   u"注意", u"安全", u"验证码", u"您的",
    u"账户", u"余额", u"快递",   u"取件",     u"请",     u"到",   u"的",   u"了",     u"吗",
    u"呢",   u"吧",   u"在",     u"是",       u"有",     u"不",   u"我",   u"你",     u"他",
    u"她",   u"周末", u"老师",   u"孩子",     u"学校",   u"医院", u"天气", u"下雨",   u"带伞",
    u"早点", u"休息", u"辛苦了", u"等你",     u"马上",   u"出发", u"到了", u"门口",   u"楼下",
    u"会议", u"改到", u"点",     u"三",       u"五",     u"十",   u"元",   u"优惠",   u"活动",
    u"退订", u"回复", u"密码",   u"银行",     u"信用卡", u"还款", u"提醒", u"新年",   u"中秋",
    u"祝",   u"身体", u"健康",   u"万事如意", u"爸妈",   u"想你",
};
constexpr const char16_t* kMarks[] = {u"，", u"。", u"！", u"？", u" "};

std::u16string Chinese(Random& r, size_t length) {
  std::u16string out;
  while (out.size() < length) {
    out += kWords[r.Below(std::size(kWords))];
    if (r.Below(5) == 0) out += kMarks[r.Below(std::size(kMarks))];
  }
  return out;
}

constexpr const char16_t* kNames[] = {
    u"张伟",  u"王芳",  u"李娜", u"刘洋",       u"陈静",    u"杨磊",      u"妈妈",
    u"爸爸",  u"老婆",  u"公司", u"Anna Smith", u"Tom Lee", u"Mike Chen", u"Li Lei",
    u"10086", u"95588", u"",     u"",           u"Han Mei", u"David",     u"王老师",
};

template <size_t N>
void Set(char16_t (&field)[N], const std::u16string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), n, field);
  field[n] = 0;
}

// Ten years of messages, spread evenly over the rows, a little jittered.
int64_t SecondsOf(int64_t row) {
  const int64_t start = 1451606400;  // 2016-01-01
  const int64_t span = 10LL * 365 * 86400;
  const int64_t rows = 1100000;
  return start + row % rows * (span / rows) + static_cast<int64_t>(Random(row).Next() % 600);
}

std::string Format(int64_t seconds, const char* format) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

}  // namespace

void MakeHead(SmsHead& h, int64_t row) {
  Random r(row);
  std::memset(&h, 0, sizeof h);
  const auto& corpus = Corpus();
  const std::u16string& real = corpus[r.Below(corpus.size())];
  std::u16string text;
  switch (r.Below(10)) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
      text = real;
      break;
    case 6:
    case 7:
    case 8:
      // Chinese packs a message into about half the characters.
      text = Chinese(r, std::max<size_t>(4, real.size() / 2));
      break;
    default:
      text = Chinese(r, 2 + r.Below(12)) + u" " + real;
  }
  Set(h.content, text);
  const size_t folder = r.Below(100);
  h.fid = folder < 60   ? 1
          : folder < 80 ? 7
          : folder < 83 ? 8
                        : 2 + static_cast<int32_t>(folder % 13);
  h.type = static_cast<int16_t>(h.fid == 7 ? 1 : 0);
  h.index = static_cast<int16_t>(row % 30000);
  h.batid = static_cast<int32_t>(row / 3);
  const int64_t seconds = SecondsOf(row);
  Set(h.createtime, Utf16(Format(seconds, "%Y%m%d%H%M%S")));
  Set(h.recvtime, Utf16(Format(seconds + static_cast<int64_t>(r.Below(30)), "%Y%m%d%H%M%S")));
  char tel[16];
  std::snprintf(tel, sizeof tel, "+86138%08u",
                static_cast<unsigned>(r.Below(3000) * 7919 % 100000000));
  Set(h.tel, Utf16(tel));
  Set(h.name, kNames[r.Below(std::size(kNames))]);
  h.longsms = static_cast<int16_t>(text.size() > 70 ? 1 : 0);
  h.lockflag = static_cast<int16_t>(r.Below(50) == 0 ? 1 : 0);
  for (uint8_t& b : h.uuid) b = static_cast<uint8_t>(r.Next());
  h.uuid[6] = static_cast<uint8_t>((h.uuid[6] & 0x0f) | 0x40);
  h.uuid[8] = static_cast<uint8_t>((h.uuid[8] & 0x3f) | 0x80);
}

std::string ModifyTimeOf(int64_t row) { return Format(SecondsOf(row), "%Y-%m-%d %H:%M:%S"); }

int BindHead(sqlite3_stmt* s, const SmsHead& h, int k) {
  sqlite3_bind_int(s, k++, h.index);
  sqlite3_bind_int(s, k++, h.type);
  sqlite3_bind_int(s, k++, h.fid);
  sqlite3_bind_int(s, k++, h.batid);
  sqlite3_bind_text16(s, k++, h.createtime, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text16(s, k++, h.tel, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text16(s, k++, h.name, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text16(s, k++, h.recvtime, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text16(s, k++, h.content, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, k++, h.privmode);
  sqlite3_bind_int(s, k++, h.ccid);
  sqlite3_bind_int(s, k++, h.lockflag);
  sqlite3_bind_int(s, k++, h.oldfid);
  sqlite3_bind_int(s, k++, h.impt);
  sqlite3_bind_int(s, k++, h.longsms);
  sqlite3_bind_text16(s, k++, h.operid, -1, SQLITE_TRANSIENT);
  sqlite3_bind_blob(s, k++, h.uuid, 16, SQLITE_TRANSIENT);
  return k;
}

bool InsertRow(sqlite3_stmt* insert, int64_t row) {
  SmsHead h;
  MakeHead(h, row);
  int k = BindHead(insert, h, 1);
  sqlite3_bind_int64(insert, k++, kFirstId + row);
  sqlite3_bind_int(insert, k++, row % 11 == 10 ? 2 + static_cast<int>(row / 11 % 3) : 1);
  const std::string modified = ModifyTimeOf(row);
  sqlite3_bind_text(insert, k++, modified.c_str(), -1, SQLITE_TRANSIENT);
  const bool done = sqlite3_step(insert) == SQLITE_DONE;
  sqlite3_reset(insert);
  return done;
}

ScaleStore MakeScaleStore(const std::string& path, int64_t heads) {
  setenv("ZUSMS_DB", path.c_str(), 1);
  for (uint32_t user = 1; user <= 4; ++user) {
    SmsDatabase store(user);
    if (store.Open() != 0) throw std::runtime_error("cannot create the store at " + path);
    store.Close();
  }
  sqlite3* db = RawOpen(path, "OFF");
  // Written once, straight into the file (no journal, no second copy through
  // the WAL), with the indexes kept in 256 MB of cache; WAL again after.
  RawExec(db, "PRAGMA journal_mode=OFF; PRAGMA cache_size=-262144");
  // The rows go in as into a file of an earlier version, without the query
  // indexes, which the next open builds.
  RawExec(db, "DROP INDEX SmsHead_fid_user_ctime; DROP INDEX SmsHead_fid_user_rtime;");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, kInsertHead, -1, &insert, nullptr);
  const int64_t rows = RowsFor(heads);
  for (int64_t row = 0; row < rows; ++row) {
    if (row % 50000 == 0) RawExec(db, "BEGIN");
    if (!InsertRow(insert, row)) {
      throw std::runtime_error(std::string("generating: ") + sqlite3_errmsg(db));
    }
    if (row % 50000 == 49999 || row == rows - 1) RawExec(db, "COMMIT");
  }
  sqlite3_finalize(insert);
  RawExec(db, "PRAGMA journal_mode=WAL");
  sqlite3_close_v2(db);

  ScaleStore out{path, heads, 0, 0};
  const auto start = std::chrono::steady_clock::now();
  {
    SmsDatabase store(1);
    if (store.Open() != 0) throw std::runtime_error("cannot open the store at " + path);
    out.index_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A listing, so that the close gathers the planner's statistics.
    uint32_t id = 0, n = 0;
    store.GetAllSmsHeadID(&id, 1, n);
    store.Close();
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) out.file_bytes = st.st_size;
  return out;
}

const ScaleStore& Scale(int64_t heads) {
  static std::map<int64_t, ScaleStore> stores;
  auto it = stores.find(heads);
  if (it != stores.end()) return it->second;
  const auto start = std::chrono::steady_clock::now();
  ScaleStore s = MakeScaleStore(FreshPath("scale" + std::to_string(heads) + "-"), heads);
  std::fprintf(stderr,
               "store of %lld messages made in %.1f s, %.1f MB; query indexes built in %.2f s\n",
               static_cast<long long>(heads),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               static_cast<double>(s.file_bytes) / 1e6, s.index_seconds);
  return stores.emplace(heads, s).first->second;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t heads : kScaleSizes) b->Arg(heads);
}

}  // namespace zusms::bench
