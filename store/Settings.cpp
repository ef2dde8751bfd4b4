// Settings: short named texts a program keeps with a user's messages, in a
// table of their own (one row per user and name). The table is made at a
// writable open when it is missing; a read-only file without it has no
// setting set.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "Transaction.h"

namespace {

constexpr const char* kTable = "tbl_zu_sms_setting";

constexpr const char16_t* kCreate =
    u"create table tbl_zu_sms_setting( UserID integer, SettingName nvarchar(64), SettingValue "
    u"nvarchar(256), constraint pk_tbl_zu_sms_setting primary key(UserID, SettingName), foreign "
    u"key(userid) references tbl_zu_user(id) on delete cascade )in zu_sms_db;";

// The length of a zero-terminated text, counted no further than `most` + 1.
size_t BoundedLength(const char16_t* text, size_t most) {
  size_t n = 0;
  while (n <= most && text[n] != 0) ++n;
  return n;
}

// Throws for a null, empty or too long name.
void CheckName(const char16_t* name) {
  if (!name) throw std::invalid_argument("null setting name");
  const size_t n = BoundedLength(name, ZU_SETTING_NAME_MAX);
  if (n == 0) throw std::invalid_argument("empty setting name");
  if (n > ZU_SETTING_NAME_MAX) {
    throw std::invalid_argument("a setting name holds at most " +
                                std::to_string(ZU_SETTING_NAME_MAX) + " characters");
  }
}

auto UserName(uint32_t user, const char16_t* name) {
  return [user, name](CMimerCommand& cmd) {
    cmd.AppendParameter(user);
    cmd.AppendParameter(name);
  };
}

}  // namespace

int32_t SmsDatabase::OpenSettings() {
  if (IsReadOnly() || SettingsInPlace()) return 0;
  return zusms::Guarded([](CMimerCommand& cmd) {
    zusms::Execute(cmd, kCreate, [](CMimerCommand&) {});
    return 0;
  });
}

bool SmsDatabase::SettingsInPlace() { return GetConn(MimerConnDefault).HasTable(kTable); }

int32_t SmsDatabase::SetSmsSetting(const char16_t* name, const char16_t* value) {
  return zusms::Guard([&] {
    CheckName(name);
    const size_t length = value ? BoundedLength(value, ZU_SETTING_VALUE_MAX) : 0;
    if (length > ZU_SETTING_VALUE_MAX) {
      throw std::invalid_argument("a setting value holds at most " +
                                  std::to_string(ZU_SETTING_VALUE_MAX) + " characters");
    }
    zusms::Transaction transaction;
    const int32_t status = zusms::Guarded([&](CMimerCommand& cmd) {
      zusms::Execute(cmd, u"delete from tbl_zu_sms_setting where UserID=? and SettingName=?",
                     UserName(m_UserID, name));
      if (length == 0) return 0;
      zusms::Execute(
          cmd,
          u"insert into tbl_zu_sms_setting( UserID, SettingName, SettingValue) VALUES (?, ?, ?)",
          [&](CMimerCommand& c) {
            UserName(m_UserID, name)(c);
            c.AppendParameter(value);
          });
      return 0;
    });
    if (status == 0) transaction.Commit();
    return status;
  });
}

int32_t SmsDatabase::GetSmsSetting(const char16_t* name, char16_t* buf, uint32_t capacity,
                                   uint32_t& length) {
  return zusms::Guard([&] {
    CheckName(name);
    if (!buf && capacity > 0) throw std::invalid_argument("null buffer");
    // Read through a field one character longer than any value the library
    // stores: a longer one, written by another program, comes cut there.
    char16_t value[ZU_SETTING_VALUE_MAX + 2] = {};
    bool found = false;
    const int32_t status = zusms::Guarded([&](CMimerCommand& cmd) {
      if (!SettingsInPlace()) return 0;
      zusms::ReadRow(
          cmd, u"select SettingValue from tbl_zu_sms_setting where UserID=? and SettingName=?",
          UserName(m_UserID, name), [&](CMimerRecordSet& rows) {
            if (!rows.HasRow()) return;
            rows.GetValue("SettingValue", value, sizeof value);
            found = true;
          });
      return 0;
    });
    if (status != 0) return status;
    const size_t full = BoundedLength(value, ZU_SETTING_VALUE_MAX + 1);
    length = static_cast<uint32_t>(full);
    if (capacity > 0) {
      size_t n = std::min<size_t>(full, capacity - 1);
      // Never half of a surrogate pair.
      if (n > 0 && n < full && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
      std::copy_n(value, n, buf);
      buf[n] = 0;
    }
    return found ? 0 : 100;
  });
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL SetZuSmsSetting(SmsDatabase* h, const char16_t* name,
                                             const char16_t* value) {
  return zusms::Call(h, [&](SmsDatabase& db) { return db.SetSmsSetting(name, value); });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsSetting(SmsDatabase* h, const char16_t* name, char16_t* buf,
                                             uint32_t capacity, uint32_t* length) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetSmsSetting(name, buf, capacity, zusms::Ref(length, "length"));
  });
}

}  // extern "C"
