// Adds multimedia messages to the store ZUSMS_DB names, for the tool's
// tests, through the library's own add: a JSON array on standard input, one
// object a message; prints the new ids as a JSON array. A part's data is
// `size` bytes, byte i being (i * 31 + seed) % 251.
//   {"tel": "+15550001", "time": "20240301120000", "type": 1, "folder": 1,
//    "content": "...", "subject": "...", "attrs": [["name", "value"]],
//    "addrs": [["+15550001", 137], ["+15550002", 151]],
//    "parts": [{"ctype": "image/jpeg", "name": "...", "fname": "...", "cl": "...",
//               "text": "...", "size": 1000, "seed": 7}]}
#include <utf8cpp/utf8.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ZuSmsDB.h"

namespace {

template <size_t N>
void Set(char16_t (&field)[N], const std::string& utf8) {
  const std::u16string text = utf8::utf8to16(utf8);
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, field);
  field[n] = 0;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t user = argc > 1 ? static_cast<uint32_t>(std::stoul(argv[1])) : 1;
  const nlohmann::json in = nlohmann::json::parse(std::cin);
  SmsDatabase* db = nullptr;
  if (InitZuSmsDB(&db, user) != 0 || OpenZuSmsDB(db) != 0) {
    std::fprintf(stderr, "cannot open the store\n");
    return 1;
  }
  nlohmann::json ids = nlohmann::json::array();
  for (const auto& m : in) {
    SmsHead head{};
    head.type = static_cast<int16_t>(m.value("type", 1));
    head.fid = m.value("folder", 1);
    Set(head.tel, m.value("tel", ""));
    Set(head.recvtime, m.value("time", ""));
    Set(head.createtime, m.value("time", ""));
    Set(head.content, m.value("content", ""));
    SmsMms mms{};
    Set(mms.subject, m.value("subject", ""));
    mms.mtype = head.type >= 2 ? 128 : 132;
    std::vector<SmsMmsAddress> addrs;
    for (const auto& a : m.at("addrs")) {
      SmsMmsAddress addr{};
      Set(addr.address, a[0].get<std::string>());
      addr.type = a[1].get<int16_t>();
      addrs.push_back(addr);
    }
    std::vector<SmsMmsPartData> parts;
    std::vector<std::vector<uint8_t>> data;
    std::vector<std::u16string> texts;
    data.reserve(m.value("parts", nlohmann::json::array()).size());
    texts.reserve(data.capacity());
    for (const auto& p : m.value("parts", nlohmann::json::array())) {
      SmsMmsPartData part{};
      Set(part.part.ctype, p.value("ctype", ""));
      Set(part.part.name, p.value("name", ""));
      Set(part.part.fname, p.value("fname", ""));
      Set(part.part.cl, p.value("cl", ""));
      data.emplace_back(p.value("size", 0u));
      const unsigned seed = p.value("seed", 0u);
      for (size_t i = 0; i < data.back().size(); ++i) data.back()[i] = (i * 31 + seed) % 251;
      part.data = data.back().data();
      part.part.datalen = static_cast<uint32_t>(data.back().size());
      if (p.contains("text")) {
        texts.push_back(utf8::utf8to16(p["text"].get<std::string>()));
        part.text = texts.back().c_str();
      }
      parts.push_back(part);
    }
    std::vector<SmsMmsAttribute> attrs;
    for (const auto& a : m.value("attrs", nlohmann::json::array())) {
      SmsMmsAttribute attr{};
      Set(attr.name, a[0].get<std::string>());
      Set(attr.value, a[1].get<std::string>());
      attrs.push_back(attr);
    }
    uint32_t id = 0;
    if (AddZuSmsMms(db, &head, &mms, attrs.data(), static_cast<uint32_t>(attrs.size()),
                    parts.data(), static_cast<uint32_t>(parts.size()), addrs.data(),
                    static_cast<uint32_t>(addrs.size()), &id) != 0) {
      char16_t error[256] = {};
      GetZuSmsLastError(error, 256);
      std::fprintf(stderr, "adding a message: %s\n", utf8::utf16to8(std::u16string(error)).c_str());
      return 1;
    }
    ids.push_back(id);
  }
  std::cout << ids.dump() << "\n";
  CloseZuSmsDB(db);
  UninitZuSmsDB(db);
  return 0;
}
