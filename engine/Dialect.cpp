#include "Dialect.h"

#include <array>
#include <charconv>

#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {

namespace {

bool IsIdentStart(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsIdentPart(char16_t c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool IsDigit(char16_t c) { return c >= '0' && c <= '9'; }

// Words that keep their SQL meaning in data statements; every other word is a
// name and is quoted.
constexpr std::array<std::string_view, 29> kKeywords = {
    "select", "from", "where",   "and",      "or",  "not",    "as",    "insert", "into",   "values",
    "update", "set",  "delete",  "order",    "by",  "asc",    "desc",  "like",   "escape", "is",
    "null",   "in",   "between", "distinct", "all", "exists", "group", "having", "limit"};
// Words that are functions when a parenthesis follows them.
constexpr std::array<std::string_view, 8> kFunctions = {"count", "max",   "min",   "sum",
                                                        "avg",   "lower", "upper", "length"};

template <size_t N>
bool OneOf(const std::array<std::string_view, N>& words, std::string_view word) {
  for (auto w : words) {
    if (EqualsNoCase(w, word)) return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  const Token& Peek(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  bool AtWord(std::string_view word, size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return t.type == Token::kWord && EqualsNoCase(t.text, word);
  }
  bool AtPunct(std::string_view p) const {
    const Token& t = Peek();
    return (t.type == Token::kPunct || t.type == Token::kParam) && t.text == p;
  }
  bool TakeWord(std::string_view word) {
    if (!AtWord(word)) return false;
    ++pos_;
    return true;
  }
  bool TakePunct(std::string_view p) {
    if (!AtPunct(p)) return false;
    ++pos_;
    return true;
  }
  void ExpectWord(std::string_view word) {
    if (!TakeWord(word))
      throw CMimerException::Unsupported("expected '" + std::string(word) + "' near '" +
                                         Peek().text + "'");
  }
  void ExpectPunct(std::string_view p) {
    if (!TakePunct(p))
      throw CMimerException::Unsupported("expected '" + std::string(p) + "' near '" + Peek().text +
                                         "'");
  }
  std::string Name() {
    const Token& t = Peek();
    if (t.type != Token::kWord && t.type != Token::kQuoted)
      throw CMimerException::Unsupported("expected a name near '" + t.text + "'");
    ++pos_;
    return t.text;
  }
  int64_t Number() {
    bool negative = TakePunct("-");
    const Token& t = Peek();
    int64_t value = 0;
    auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
    if (t.type != Token::kNumber || ec != std::errc() || end != t.text.data() + t.text.size()) {
      throw CMimerException::Unsupported("expected a whole number near '" + t.text + "'");
    }
    ++pos_;
    return negative ? -value : value;
  }
  std::vector<std::string> NameList() {
    ExpectPunct("(");
    std::vector<std::string> names;
    do {
      names.push_back(Name());
    } while (TakePunct(","));
    ExpectPunct(")");
    return names;
  }
  // The end of the statement: an optional ';' and nothing after it.
  void End() {
    TakePunct(";");
    if (Peek().type != Token::kEnd)
      throw CMimerException::Unsupported("unexpected '" + Peek().text + "' after the statement");
  }
  size_t Position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  size_t Size() const { return tokens_.size(); }

  // SQLite text for the tokens from `from` to the end, with names quoted.
  std::string Translate(size_t from) const {
    size_t end = tokens_.size() - 1;  // the kEnd token
    if (end > from && tokens_[end - 1].type == Token::kPunct && tokens_[end - 1].text == ";") --end;
    return Translate(from, end);
  }
  // The position of the ')' that closes the '(' just before `from`.
  size_t Closing(size_t from) const {
    int depth = 0;
    for (size_t i = from; i < tokens_.size(); ++i) {
      const Token& t = tokens_[i];
      if (t.type != Token::kPunct) continue;
      if (t.text == "(") ++depth;
      if (t.text == ")" && depth-- == 0) return i;
    }
    throw CMimerException::Unsupported("unbalanced parentheses");
  }
  std::string Translate(size_t from, size_t end) const {
    std::string out;
    for (size_t i = from; i < end; ++i) {
      const Token& t = tokens_[i];
      if (!out.empty()) out += ' ';
      switch (t.type) {
        case Token::kWord:
          if (OneOf(kKeywords, t.text)) {
            out += Lower(t.text);
          } else if (OneOf(kFunctions, t.text) && i + 1 < end &&
                     tokens_[i + 1].type == Token::kPunct && tokens_[i + 1].text == "(") {
            out += Lower(t.text);
          } else {
            out += QuoteIdent(t.text);
          }
          break;
        case Token::kQuoted:
          out += QuoteIdent(t.text);
          break;
        case Token::kPunct:
          if (t.text == ";")
            throw CMimerException::Unsupported("more than one statement in one text");
          out += t.text;
          break;
        case Token::kString:
        case Token::kNumber:
        case Token::kParam:
          out += t.text;
          break;
        case Token::kEnd:
          break;
      }
    }
    return out;
  }

 private:
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

ColumnType ReadType(Parser& p, int64_t* width) {
  std::string type = Lower(p.Name());
  *width = 0;
  auto read_width = [&] {
    p.ExpectPunct("(");
    *width = p.Number();
    p.ExpectPunct(")");
    if (*width <= 0) throw CMimerException::Unsupported("a width must be positive");
  };
  if (type == "integer" || type == "int") return ColumnType::kInteger;
  if (type == "smallint") return ColumnType::kSmallint;
  if (type == "bigint") return ColumnType::kBigint;
  if (type == "timestamp") return ColumnType::kTimestamp;
  if (type == "nvarchar" || type == "varchar") {
    read_width();
    return ColumnType::kNvarchar;
  }
  if (type == "nchar" && p.TakeWord("varying")) {
    read_width();
    return ColumnType::kNvarchar;
  }
  // BLOB and BINARY LARGE OBJECT, with an optional length in bytes that may
  // end in K, M or G (1024, 1024^2, 1024^3); without one, SQLite's own limit.
  if (type == "blob" || (type == "binary" && p.TakeWord("large"))) {
    if (type == "binary") p.ExpectWord("object");
    if (p.TakePunct("(")) {
      *width = p.Number();
      int64_t unit = 1;
      if (p.TakeWord("k")) {
        unit = int64_t{1} << 10;
      } else if (p.TakeWord("m")) {
        unit = int64_t{1} << 20;
      } else if (p.TakeWord("g")) {
        unit = int64_t{1} << 30;
      }
      p.ExpectPunct(")");
      if (*width <= 0 || *width > (int64_t{1} << 40) / unit)
        throw CMimerException::Unsupported("a large object's length must be positive");
      *width *= unit;
    }
    return ColumnType::kBlob;
  }
  if (type == "char" || type == "binary") {
    read_width();
    return ColumnType::kChar;
  }
  throw CMimerException::Unsupported("unknown column type '" + type + "'");
}

void ParseTableBody(Parser& p, TableDef* table) {
  p.ExpectPunct("(");
  do {
    std::string constraint_name;
    if (p.TakeWord("constraint")) constraint_name = p.Name();
    if (p.AtWord("primary")) {
      p.ExpectWord("primary");
      p.ExpectWord("key");
      if (!table->primary_key.empty()) throw CMimerException::Unsupported("a second primary key");
      table->primary_key = p.NameList();
      table->pk_name = constraint_name;
    } else if (p.AtWord("foreign")) {
      p.ExpectWord("foreign");
      p.ExpectWord("key");
      ForeignKey fk;
      fk.columns = p.NameList();
      p.ExpectWord("references");
      fk.table = p.Name();
      fk.ref_columns = p.NameList();
      if (fk.ref_columns.size() != fk.columns.size())
        throw CMimerException::Unsupported("foreign key column counts differ");
      if (p.TakeWord("on")) {
        p.ExpectWord("delete");
        p.ExpectWord("cascade");
        fk.cascade = true;
      }
      table->foreign_keys.push_back(std::move(fk));
    } else if (!constraint_name.empty()) {
      throw CMimerException::Unsupported("unknown constraint '" + constraint_name + "'");
    } else {
      ColumnDef column;
      column.name = p.Name();
      column.type = ReadType(p, &column.width);
      for (;;) {
        if (p.TakeWord("default")) {
          if (!p.TakeWord("next_value"))
            throw CMimerException::Unsupported(
                "only DEFAULT next_value OF a sequence is supported");
          p.ExpectWord("of");
          column.sequence = p.Name();
        } else if (p.TakeWord("not")) {
          p.ExpectWord("null");
          column.not_null = true;
        } else if (p.AtWord("primary")) {
          p.ExpectWord("primary");
          p.ExpectWord("key");
          if (!table->primary_key.empty())
            throw CMimerException::Unsupported("a second primary key");
          table->primary_key = {column.name};
        } else {
          break;
        }
      }
      for (const auto& other : table->columns) {
        if (EqualsNoCase(other.name, column.name))
          throw CMimerException::Unsupported("column '" + column.name + "' twice");
      }
      table->columns.push_back(std::move(column));
    }
  } while (p.TakePunct(","));
  p.ExpectPunct(")");
  if (table->columns.empty()) throw CMimerException::Unsupported("a table without columns");
  auto known = [&](const std::string& name) {
    for (const auto& c : table->columns) {
      if (EqualsNoCase(c.name, name)) return true;
    }
    return false;
  };
  for (const auto& name : table->primary_key) {
    if (!known(name))
      throw CMimerException::Unsupported("primary key names unknown column '" + name + "'");
  }
  for (const auto& fk : table->foreign_keys) {
    for (const auto& name : fk.columns) {
      if (!known(name))
        throw CMimerException::Unsupported("foreign key names unknown column '" + name + "'");
    }
  }
}

Statement ParseCreate(Parser& p) {
  Statement s;
  if (p.TakeWord("databank")) {
    s.kind = StatementKind::kCreateDatabank;
    s.name = p.Name();
    if (p.TakeWord("of")) {
      s.pages = p.Number();
      p.ExpectWord("pages");
    }
    p.ExpectWord("in");
    const Token& file = p.Peek();
    if (file.type != Token::kString)
      throw CMimerException::Unsupported("expected the databank's file name");
    s.file = file.text.substr(1, file.text.size() - 2);
    p.Seek(p.Position() + 1);
    if (p.TakeWord("with")) {
      s.option = Lower(p.Name());
      if (s.option != "trans" && s.option != "log" && s.option != "work") {
        throw CMimerException::Unsupported("unknown databank option '" + s.option + "'");
      }
      p.ExpectWord("option");
    }
    p.End();
    return s;
  }
  bool unique = p.TakeWord("unique");
  if (p.TakeWord("sequence")) {
    s.kind = StatementKind::kCreateSequence;
    s.name = p.Name();
    for (;;) {
      if (p.TakeWord("initial_value")) {
        p.ExpectPunct("=");
        s.initial = p.Number();
      } else if (p.TakeWord("increment")) {
        p.ExpectPunct("=");
        s.increment = p.Number();
        if (s.increment <= 0) throw CMimerException::Unsupported("a sequence must increase");
      } else {
        break;
      }
    }
    p.End();
    return s;
  }
  if (p.TakeWord("index")) {
    s.kind = StatementKind::kCreateIndex;
    s.unique = unique;
    if (p.TakeWord("if")) {
      p.ExpectWord("not");
      p.ExpectWord("exists");
      s.if_not_exists = true;
    }
    s.name = p.Name();
    p.ExpectWord("on");
    s.index_table = p.Name();
    s.index_columns = p.NameList();
    p.End();
    return s;
  }
  if (unique)
    throw CMimerException::Unsupported(
        "'unique' before something other than a sequence or an index");
  if (p.TakeWord("statement")) {
    s.kind = StatementKind::kCreateStatement;
    s.name = p.Name();
    p.ExpectWord("set");
    p.ExpectPunct("?");
    p.ExpectPunct("=");
    bool next = p.TakeWord("next_value");
    if (!next) p.ExpectWord("current_value");
    p.ExpectWord("of");
    std::string sequence = p.Name();
    p.End();
    s.body = std::string("set ? = ") + (next ? "next_value" : "current_value") + " of " + sequence;
    return s;
  }
  if (p.TakeWord("table")) {
    s.kind = StatementKind::kCreateTable;
    s.table.name = p.Name();
    s.name = s.table.name;
    ParseTableBody(p, &s.table);
    if (p.TakeWord("in")) s.table.databank = p.Name();
    p.End();
    return s;
  }
  throw CMimerException::Unsupported(
      "create of something other than a databank, sequence, statement, table or index");
}

}  // namespace

namespace {

std::string Quote(std::string_view text, char mark) {
  std::string out(1, mark);
  for (char c : text) {
    if (c == mark) out += mark;
    out += c;
  }
  out += mark;
  return out;
}

}  // namespace

std::string QuoteIdent(std::string_view name) { return Quote(name, '"'); }

std::string QuoteLiteral(std::string_view text) { return Quote(text, '\''); }

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    if (!out.empty()) out += ", ";
    out += QuoteIdent(n);
  }
  return out;
}

std::vector<Token> Tokenize(std::u16string_view text) {
  std::vector<Token> tokens;
  size_t i = 0;
  const size_t n = text.size();
  auto ascii = [&](size_t from, size_t to) {
    std::string s;
    for (size_t k = from; k < to; ++k) s += static_cast<char>(text[k]);
    return s;
  };
  while (i < n) {
    char16_t c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      while (i < n && text[i] != '\n') ++i;
    } else if (IsIdentStart(c)) {
      size_t start = i;
      while (i < n && IsIdentPart(text[i])) ++i;
      tokens.push_back({Token::kWord, ascii(start, i)});
    } else if (IsDigit(c)) {
      size_t start = i;
      while (i < n && (IsDigit(text[i]) || text[i] == '.')) ++i;
      tokens.push_back({Token::kNumber, ascii(start, i)});
    } else if (c == '\'' || c == '"') {
      // 'text' and "name", with the quote doubled inside.
      size_t start = ++i;
      std::u16string body;
      for (;;) {
        if (i >= n)
          throw CMimerException::Unsupported(c == '\'' ? "unterminated text literal"
                                                       : "unterminated quoted name");
        if (text[i] == c) {
          if (i + 1 < n && text[i + 1] == c) {
            body += c;
            i += 2;
            continue;
          }
          break;
        }
        body += text[i++];
      }
      ++i;
      (void)start;
      if (c == '"') {
        if (body.empty()) throw CMimerException::Unsupported("empty quoted name");
        tokens.push_back({Token::kQuoted, ToUtf8(body)});
      } else {
        std::string literal = "'";
        for (char ch : ToUtf8(body)) {
          if (ch == '\'') literal += '\'';
          literal += ch;
        }
        tokens.push_back({Token::kString, literal + "'"});
      }
    } else if (c == '?') {
      tokens.push_back({Token::kParam, "?"});
      ++i;
    } else {
      static constexpr std::u16string_view kTwo[] = {u"<>", u"<=", u">=", u"!=", u"||"};
      bool matched = false;
      for (auto two : kTwo) {
        if (text.substr(i, 2) == two) {
          tokens.push_back({Token::kPunct, ascii(i, i + 2)});
          i += 2;
          matched = true;
          break;
        }
      }
      if (matched) continue;
      if (std::u16string_view(u"(),;*=<>+-/.%").find(c) == std::u16string_view::npos) {
        throw CMimerException::Unsupported("unexpected character U+" + [&] {
          char buf[8];
          auto r = std::to_chars(buf, buf + sizeof buf, static_cast<unsigned>(c), 16);
          return std::string(buf, r.ptr);
        }());
      }
      tokens.push_back({Token::kPunct, ascii(i, i + 1)});
      ++i;
    }
  }
  tokens.push_back({Token::kEnd, "end of statement"});
  return tokens;
}

Statement Parse(std::u16string_view text) {
  Parser p(Tokenize(text));
  Statement s;
  if (p.TakeWord("create")) return ParseCreate(p);
  if (p.TakeWord("drop")) {
    p.ExpectWord("databank");
    s.kind = StatementKind::kDropDatabank;
    s.name = p.Name();
    s.cascade = p.TakeWord("cascade");
    p.End();
    return s;
  }
  if (p.TakeWord("execute")) {
    p.ExpectWord("statement");
    s.kind = StatementKind::kExecuteStatement;
    s.name = p.Name();
    p.End();
    return s;
  }
  if (p.AtWord("select")) {
    s.kind = StatementKind::kSelect;
  } else if (p.AtWord("update")) {
    s.kind = StatementKind::kUpdate;
  } else if (p.AtWord("delete")) {
    s.kind = StatementKind::kDelete;
  } else if (p.AtWord("insert")) {
    s.kind = StatementKind::kInsert;
    p.ExpectWord("insert");
    p.ExpectWord("into");
    s.name = p.Name();
    if (p.AtPunct("(")) s.insert_columns = p.NameList();
    p.ExpectWord("values");
    p.ExpectPunct("(");
    size_t close = p.Closing(p.Position());
    s.sql = p.Translate(p.Position(), close);
    p.Seek(close + 1);
    p.End();
    return s;
  } else {
    throw CMimerException::Unsupported("'" + p.Peek().text +
                                       "' does not start a statement this engine knows");
  }
  s.sql = p.Translate(0);
  return s;
}

StoredBody ParseStoredBody(const std::string& body) {
  Parser p(Tokenize(ToUtf16(body)));
  StoredBody out;
  p.ExpectWord("set");
  p.ExpectPunct("?");
  p.ExpectPunct("=");
  out.next = p.TakeWord("next_value");
  if (!out.next) p.ExpectWord("current_value");
  p.ExpectWord("of");
  out.sequence = p.Name();
  p.End();
  return out;
}

}  // namespace zusms::engine
