#include "model/Store.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

#include "text/Interrupt.h"

namespace zusms::cli {

std::string DefaultFolder() {
  if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    return std::string(xdg) + "/zusms";
  }
  if (const char* home = getenv("HOME"); home && *home) {
    return std::string(home) + "/.local/share/zusms";
  }
  return "";
}

std::string StoreFile(const std::string& db) {
  if (!db.empty()) return db;
  if (const char* env = getenv("ZUSMS_DB"); env && *env) return env;
  const std::string folder = DefaultFolder();
  return folder.empty() ? "" : folder + "/zuSms.dbf";
}

void Check(int32_t status, const std::string& what) {
  if (status == 0) return;
  char16_t error[1024];
  const int32_t length = GetZuSmsLastError(error, 1024);
  std::string why = length > 0 ? Utf8(error, 1024) : "status " + std::to_string(status);
  throw Failure(what + ": " + why);
}

Store::Store(const std::string& db, uint32_t user) : user_(user) {
  if (!db.empty()) setenv("ZUSMS_DB", db.c_str(), 1);
  Check(InitZuSmsDB(&handle_, user), "creating the store");
  const int32_t status = OpenZuSmsDB(handle_);
  if (status != 0) {
    try {
      Check(status, "opening the store");
    } catch (...) {
      UninitZuSmsDB(handle_);
      throw;
    }
  }
}

Store::~Store() {
  if (getenv("ZUSMS_COUNT_READS") != nullptr) {
    std::fprintf(stderr, "zusms: %llu queries read %llu messages\n",
                 static_cast<unsigned long long>(queries_), static_cast<unsigned long long>(rows_));
  }
  CloseZuSmsDB(handle_);
  UninitZuSmsDB(handle_);
}

uint32_t Store::Count(MimerQueryFilter* filter) {
  uint32_t n = 0;
  Check(QueryZuSmsHeadCount(handle_, filter, &n), "counting messages");
  ++queries_;
  return n;
}

std::vector<SmsHead> Store::Heads(MimerQueryFilter* filter, uint32_t limit) {
  if (limit > 1000) {  // room for what matches, not for the limit
    limit = std::min(limit, Count(filter));
  }
  std::vector<SmsHead> heads(limit);
  uint32_t n = 0;
  Check(QueryZuSmsHead(handle_, filter, heads.data(), limit, &n), "listing messages");
  heads.resize(n);
  ++queries_;
  rows_ += n;
  return heads;
}

std::vector<SmsHead> Store::AllHeads(MimerQueryFilter* filter) {
  const uint32_t n = Count(filter);
  return n == 0 ? std::vector<SmsHead>() : Heads(filter, n);
}

int32_t Store::ForEachHead(const std::function<void(const SmsHead&)>& visit, int32_t from,
                           std::span<const _MimerQueryFilterItem> also) {
  constexpr uint32_t kPage = 500;
  int32_t last = from;
  std::vector<_MimerQueryFilterItem> conditions(also.begin(), also.end());
  conditions.push_back({ZU_HEAD_ID, ZU_OP_GT, {}});
  for (;;) {
    conditions.back().value.number = last;
    _MimerQueryOrderItem by_id{ZU_HEAD_ID, 1};
    MimerQueryFilter filter{static_cast<uint32_t>(conditions.size()), conditions.data(), 1, 1,
                            &by_id};
    const std::vector<SmsHead> page = Heads(&filter, kPage);
    for (const SmsHead& h : page) visit(h);
    if (!page.empty()) last = page.back().id;
    if (page.size() < kPage) return last;
  }
}

int32_t Store::MaxBatid() {
  _MimerQueryFilterItem some{ZU_HEAD_BATID, ZU_OP_GT, {}};
  some.value.number = 0;
  _MimerQueryOrderItem highest{ZU_HEAD_BATID, 2};
  MimerQueryFilter filter{1, &some, 1, 1, &highest};
  const std::vector<SmsHead> top = Heads(&filter, 1);
  return top.empty() ? 0 : top.front().batid;
}

std::vector<SmsFolder> Store::Folders() {
  auto folders = ReadAll<SmsFolder>(*this, GetZuSmsFolderCount, GetAllZuSmsFolder, "folders");
  std::sort(folders.begin(), folders.end(),
            [](const SmsFolder& a, const SmsFolder& b) { return a.FdId < b.FdId; });
  return folders;
}

uint32_t Store::CountMatching(const _MimerQueryFilterItem& condition) {
  _MimerQueryFilterItem item = condition;
  MimerQueryFilter filter{1, &item, 1, 0, nullptr};
  return Count(&filter);
}

uint32_t Store::CountInFolder(int32_t fid) {
  _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_EQ, {}};
  item.value.number = fid;
  return CountMatching(item);
}

bool Store::HasUuid(const uint8_t* uuid) {
  _MimerQueryFilterItem item{ZU_HEAD_UUID, ZU_OP_BYTES_EQ, {}};
  item.value.bytes = uuid;
  return CountMatching(item) > 0;
}

std::set<std::string> Store::Uuids() {
  uint32_t n = 0;
  Check(GetZuSmsHeadCount(handle_, &n), "counting messages");
  std::vector<stIDUUID> list(n);
  Check(GetAllZuSmsHeadIDUUID(handle_, list.data(), n, &n), "listing UUIDs");
  std::set<std::string> out;
  for (uint32_t i = 0; i < n; ++i) out.emplace(reinterpret_cast<const char*>(list[i].uuid), 16);
  return out;
}

namespace {

// Whether the call that returned `status` failed only because another
// process held the store's write lock past the busy timeout, so that trying
// again may succeed: the one place that asks the C API.
bool StoreIsBusy(int32_t status) { return status != 0 && IsZuSmsLastErrorBusy() != 0; }

}  // namespace

// A batch waits for the write lock as long as another writer's work lasts
// (another import's batches follow one another), not only for the store's
// busy timeout of 5 seconds.
Batch::Batch(Store& store) : store_(store) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (true) {
    const int32_t status = BeginZuSmsBatch(*store);
    if (status == 0) return;
    if (!StoreIsBusy(status) || InterruptRequested() ||
        std::chrono::steady_clock::now() >= deadline) {
      Check(status, "starting a batch");
    }
  }
}

Batch::~Batch() {
  if (open_) RollbackZuSmsBatch(*store_);
}

void Batch::Commit() {
  open_ = false;
  Check(CommitZuSmsBatch(*store_), "committing");
}

uint64_t StreamPartData(Store& store, uint32_t id, uint32_t part,
                        const std::function<void(const uint8_t*, size_t)>& on, uint32_t piece) {
  struct Sink {
    const std::function<void(const uint8_t*, size_t)>& on;
    std::exception_ptr failure;
  } sink{on, nullptr};
  // No exception crosses the library: the sink stops it and keeps what was thrown.
  const ZuSmsPartSink receive = [](void* context, const uint8_t* data, uint32_t size) -> int32_t {
    auto& s = *static_cast<Sink*>(context);
    try {
      s.on(data, size);
      return 0;
    } catch (...) {
      s.failure = std::current_exception();
      return 1;
    }
  };
  std::vector<uint8_t> buffer(piece);
  uint64_t total = 0;
  const int32_t status =
      StreamZuSmsMmsPartData(*store, id, part, buffer.data(), piece, receive, &sink, &total);
  if (sink.failure) std::rethrow_exception(sink.failure);
  if (status == 100) throw Failure(fmt::format("message {} was deleted while it was read", id));
  Check(status, "reading a part's data");
  return total;
}

}  // namespace zusms::cli
