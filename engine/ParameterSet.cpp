#include <cstdio>
#include <variant>

#include "Boundary.h"
#include "MimerDatabase.h"
#include "Text.h"

// A value kept by a free-standing set until it is appended to a command.
struct CMimerParameterSet::Value {
  enum Kind { kInt, kText16, kText8, kBlob } kind;
  int64_t number = 0;
  std::u16string text16;
  std::string bytes;  // kText8 and kBlob
};

CMimerParameterSet::CMimerParameterSet() : values_(new std::vector<Value>()) {}
CMimerParameterSet::CMimerParameterSet(const CMimerParameterSet& other)
    : values_(new std::vector<Value>(*other.values_)) {}
CMimerParameterSet& CMimerParameterSet::operator=(const CMimerParameterSet& other) {
  if (this != &other) *values_ = *other.values_;
  return *this;
}
CMimerParameterSet::~CMimerParameterSet() { delete values_; }

size_t CMimerParameterSet::Count() const { return values_->size(); }

int CMimerParameterSet::AppendParameter(int16_t value) {
  BindInt(value);
  return 0;
}
int CMimerParameterSet::AppendParameter(int32_t value) {
  BindInt(value);
  return 0;
}
int CMimerParameterSet::AppendParameter(uint32_t value) {
  BindInt(static_cast<int32_t>(value));
  return 0;
}
int CMimerParameterSet::AppendParameter(const char16_t* text) {
  if (!text) throw CMimerException(u"a null text was bound", -1);
  size_t length = 0;
  while (text[length] != 0) ++length;
  BindText16(text, length);
  return 0;
}
int CMimerParameterSet::AppendParameter(const char16_t* text, size_t capacity) {
  if (!text) throw CMimerException(u"a null text was bound", -1);
  size_t length = 0;
  while (length < capacity && text[length] != 0) ++length;
  if (length == capacity) {
    throw CMimerException(u"a text field has no terminating zero within its capacity", -1);
  }
  BindText16(text, length);
  return 0;
}
int CMimerParameterSet::AppendParameter(const uint8_t* bytes, size_t length) {
  if (!bytes && length > 0) throw CMimerException(u"null bytes were bound", -1);
  BindBlob(bytes, length);
  return 0;
}
int CMimerParameterSet::AppendParameter(const tagTIMESTAMP_STRUCT& t) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 61 || t.fraction > 999999999 || t.year < 0) {
    throw CMimerException(u"an invalid timestamp was bound", -1);
  }
  char buf[40];
  int n = t.fraction == 0
              ? std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month,
                              t.day, t.hour, t.minute, t.second)
              : std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%09u", t.year,
                              t.month, t.day, t.hour, t.minute, t.second, t.fraction);
  BindText8(buf, static_cast<size_t>(n));
  return 0;
}
int CMimerParameterSet::AppendParameter(const CMimerParameterSet& set) {
  // Copy first: appending a set to itself must not read what it appends.
  const std::vector<Value> values = *set.values_;
  for (const Value& v : values) {
    switch (v.kind) {
      case Value::kInt:
        BindInt(v.number);
        break;
      case Value::kText16:
        BindText16(v.text16.data(), v.text16.size());
        break;
      case Value::kText8:
        BindText8(v.bytes.data(), v.bytes.size());
        break;
      case Value::kBlob:
        BindBlob(reinterpret_cast<const uint8_t*>(v.bytes.data()), v.bytes.size());
        break;
    }
  }
  return 0;
}

void CMimerParameterSet::BindInt(int64_t value) {
  values_->push_back(Value{Value::kInt, value, {}, {}});
}
void CMimerParameterSet::BindText16(const char16_t* text, size_t length) {
  values_->push_back(Value{Value::kText16, 0, std::u16string(text, length), {}});
}
void CMimerParameterSet::BindText8(const char* text, size_t length) {
  values_->push_back(Value{Value::kText8, 0, {}, std::string(text, length)});
}
void CMimerParameterSet::BindBlob(const uint8_t* bytes, size_t length) {
  values_->push_back(
      Value{Value::kBlob,
            0,
            {},
            length ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string()});
}

int CMimerStatement::AppendOutParameter(uint32_t& out) {
  out_ = &out;
  return 0;
}
