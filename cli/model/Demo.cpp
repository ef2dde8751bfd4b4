#include "model/Demo.h"

#include <fmt/format.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "model/Messages.h"

namespace zusms::cli {

namespace {

struct Contact {
  const char* tel;
  const char* name;
};

constexpr Contact kContacts[] = {
    {"+8613800138000", "\u5f20\u4f1f"},
    {"+8613912345678", "\u674e\u5a1c"},
    {"+4915112345678", "Anna Schmidt"},
    {"+14155550123", "Mike Chen"},
    {"+8618600001111", "\u738b\u82b3 (Wang Fang)"},
    {"10086", "\u4e2d\u56fd\u79fb\u52a8"},
    {"+447700900123", "Oliver Brown"},
    {"95588", "\u5de5\u5546\u94f6\u884c"},
};

constexpr const char* kTexts[] = {
    "\u660e\u5929\u4e0b\u5348\u4e09\u70b9\u5f00\u4f1a\uff0c\u522b\u5fd8\u4e86\u5e26\u8d44\u6599"
    "\u3002",
    "Are we still on for dinner tonight? I booked a table for seven.",
    "\u60a8\u7684\u9a8c\u8bc1\u7801\u662f 482913\uff0c\u4e94\u5206\u949f\u5185\u6709\u6548\u3002",
    "The meeting moved to room 4B, see you there.",
    "\u751f\u65e5\u5feb\u4e50\uff01\u795d\u4f60\u5929\u5929\u5f00\u5fc3 \U0001F382",
    "Flight CA937 boards at gate 12 at 13:40. Have a good trip!",
    "\u60a8\u7684\u8d26\u6237\u5c3e\u53f7 8832 \u4e8e 12\u670806\u65e5\u652f\u51fa "
    "256.00\u5143\u3002",
    "Thanks for the photos, they came out great.",
};

// A long message: several paragraphs, mixed scripts.
std::string LongText(int i) {
  std::string text = fmt::format("Minutes of the meeting #{}: ", i);
  for (int k = 0; k < 6; ++k) {
    text +=
        "\u4f1a\u8bae\u8ba8\u8bba\u4e86\u4e0b\u5b63\u5ea6\u7684\u8ba1\u5212\u548c\u9884\u7b97\u3002"
        "We agreed on the schedule and the budget for the next quarter. ";
  }
  return text;
}

// Messages over the default folders and the demo's own, a day apart at most.
size_t AddMessages(Store& store, std::time_t now) {
  const int32_t folders[] = {1, 1, 1, 1, 7, 7, 8, 6, 2, 4, 13, 15, 16, 17};
  size_t added = 0;
  for (int i = 0; i < 300; ++i) {
    const Contact& c = kContacts[i % std::size(kContacts)];
    SmsHead h;
    std::memset(&h, 0, sizeof h);
    h.fid = folders[i % std::size(folders)];
    h.type = static_cast<int16_t>(h.fid == 7 ? 2 : h.fid == 8 ? 3 : h.fid == 6 ? 4 : 1);
    SetText(h.tel, c.tel);
    SetText(h.name, c.name);
    const int64_t when = now - static_cast<int64_t>(i) * 4321;
    SetText(h.recvtime, TimeText(when));
    SetText(h.createtime, TimeText(when - 30));
    SetText(h.content, i % 37 == 5 ? LongText(i) : kTexts[i % std::size(kTexts)]);
    h.lockflag = i % 50 == 0;
    DerivedUuid(fmt::format("zusms demo {}", i), h.uuid);
    uint32_t id = 0;
    Check(AddZuSmsHead(*store, &h, &id), "adding a message");
    ++added;
  }
  return added;
}

}  // namespace

std::string DemoStorePath() {
  const std::string dir = DefaultFolder();
  if (dir.empty()) throw Failure("HOME is not set: give the demo a file with --db PATH");
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) throw Failure(dir + ": " + error.message());
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all, error);
  return dir + "/demo.dbf";
}

void Demo::Run() {
  if (Seeded()) {
    uint32_t n = 0;
    Check(GetZuSmsHeadCount(*store_, &n), "counting messages");
    out_ << fmt::format("The demo data is already in this store ({}); nothing added.\n\n",
                        Counted(n, "message"));
  } else {
    Seed();
  }
}

bool Demo::Seeded() {
  uint8_t uuid[16];
  DerivedUuid("zusms demo 0", uuid);
  return store_.HasUuid(uuid);
}

void Demo::Seed() {
  Batch batch(store_);
  // Folders of the user's own.
  for (const char* name : {"\u5de5\u4f5c (Work)", "Family", "\u91cd\u8981"}) {
    SmsFolder f{};
    SetText(f.fname, name);
    uint32_t id = 0;
    Check(AddZuSmsFolder(*store_, &f, &id), "adding a folder");
  }
  const std::time_t now = std::time(nullptr);
  const size_t added = AddMessages(store_, now);
  for (const Contact& c : kContacts) {
    SmsRecieverHistory r{};
    SetText(r.tel, c.tel);
    SetText(r.name, c.name);
    SetText(r.lastdate, TimeText(now).substr(0, 8));
    uint32_t id = 0;
    Check(AddZuSmsReceiverHistory(*store_, &r, &id), "adding to the history");
  }
  for (const char* text :
       {"\u6211\u5728\u5f00\u4f1a\uff0c\u7a0d\u540e\u56de\u590d\u3002", "On my way!",
        "Call me when you can.", "\u597d\u7684\uff0c\u6536\u5230\u3002"}) {
    SmsPhrase p{};
    SetText(p.content, text);
    uint32_t id = 0;
    Check(AddZuSmsPhrase(*store_, &p, &id), "adding a phrase");
  }
  struct {
    const char* tel;
    int32_t folder;
    int16_t type;
  } filters[] = {{"95588", 15, 1}, {"10086", 13, 1}, {"+4915112345678", 16, 2}};
  for (const auto& rule : filters) {
    SmsFilter f{};
    f.folderid = rule.folder;
    f.ftype = rule.type;
    SetText(f.tel, rule.tel);
    uint32_t id = 0;
    Check(AddZuSmsFilter(*store_, &f, &id), "adding a filter");
  }
  for (int page = 1; page <= 3; ++page) {
    SmsAreaBroadcast b{};
    b.sn = 4242;
    b.msgid = 4370;
    b.pageindex = page;
    b.dctype = 72;
    SetText(b.recvtime, TimeText(now));
    SetText(b.data, fmt::format("\u53f0\u98ce\u9884\u8b66 Typhoon warning, page {} of 3: "
                                "stay indoors.",
                                page));
    b.datalen = static_cast<int16_t>(std::u16string(b.data).size());
    uint32_t id = 0;
    Check(AddZuSmsAreaBroadcast(*store_, &b, &id), "adding a broadcast page");
  }
  batch.Commit();
  out_ << fmt::format(
      "Added demo data: {}, 3 folders, {} history entries, 4 phrases, 3 filters, 3 cell "
      "broadcast pages.\n\n",
      Counted(added, "message"), std::size(kContacts));
}

}  // namespace zusms::cli
