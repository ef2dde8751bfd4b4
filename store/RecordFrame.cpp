#include "RecordFrame.h"

namespace zusms {

namespace {

template <typename T>
const T& At(const void* record, const Field& f) {
  return *reinterpret_cast<const T*>(static_cast<const char*>(record) + f.offset);
}
template <typename T>
T* Ptr(void* record, const Field& f) {
  return reinterpret_cast<T*>(static_cast<char*>(record) + f.offset);
}

}  // namespace

CMimerConnection& Conn() { return CMimerDatabase::GetConn(MimerConnDefault); }

void BindFields(CMimerParameterSet& params, const void* record, std::span<const Field> fields) {
  for (const Field& f : fields) {
    switch (f.kind) {
      case FieldKind::kInt16:
        params.AppendParameter(At<int16_t>(record, f));
        break;
      case FieldKind::kInt32:
        params.AppendParameter(At<int32_t>(record, f));
        break;
      case FieldKind::kText:
        params.AppendParameter(&At<char16_t>(record, f), f.size / sizeof(char16_t));
        break;
      case FieldKind::kBytes:
        params.AppendParameter(&At<uint8_t>(record, f), f.size);
        break;
    }
  }
}

void ReadFields(CMimerRecordSet& rows, void* record, std::span<const Field> fields) {
  for (const Field& f : fields) {
    switch (f.kind) {
      case FieldKind::kInt16:
        rows.GetValue(f.column, Ptr<int16_t>(record, f), f.size);
        break;
      case FieldKind::kInt32:
        rows.GetValue(f.column, Ptr<int32_t>(record, f), f.size);
        break;
      case FieldKind::kText:
        rows.GetValue(f.column, Ptr<char16_t>(record, f), f.size);
        break;
      case FieldKind::kBytes:
        rows.GetValue(f.column, Ptr<uint8_t>(record, f), f.size);
        break;
    }
  }
}

void PrepareNewId(CMimerCommand& cmd, uint32_t& newId) {
  cmd.InitCommand(u"execute statement sms_id_seq_cur");
  cmd.AppendOutParameter(newId);
}

int32_t DeleteRecord(const char16_t* remove, uint32_t user, uint32_t id) {
  return Guarded([&](CMimerCommand& cmd) {
    Execute(cmd, remove, IdUser(id, user));
    return 0;
  });
}

int32_t DeleteAllRecords(const char16_t* remove_all, uint32_t user) {
  return Guarded([&](CMimerCommand& cmd) {
    Execute(cmd, remove_all, User(user));
    return 0;
  });
}

int32_t CountRecords(const char16_t* count, uint32_t user, uint32_t& n) {
  return Guarded([&](CMimerCommand& cmd) {
    CountRows(cmd, count, User(user), n);
    return 0;
  });
}

}  // namespace zusms
