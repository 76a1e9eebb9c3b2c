#include "messages/store.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <utility>

#include "decoder/cp932.h"
#include "messages/repair.h"
#include "messages/store_db.h"

namespace brontel::msg {

using db::TParams;
using db::TRow;
using db::TType;
using db::TValue;

namespace {

namespace fs = std::filesystem;

std::string GapsJson(const std::vector<TGap>& gaps)
{
  nlohmann::json j = nlohmann::json::array();
  for (const TGap& g : gaps) j.push_back({g.Offset, g.Lost, g.Break});
  return j.dump();
}

std::vector<TGap> GapsFromJson(const std::string& text)
{
  std::vector<TGap> gaps;
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_array()) return gaps;
  for (const auto& g : j) {
    if (!g.is_array() || g.size() != 3 || !g[0].is_number_unsigned() || !g[1].is_number_integer() ||
        !g[2].is_boolean())
      continue;
    gaps.push_back({g[0].get<std::size_t>(), g[1].get<int>(), g[2].get<bool>()});
  }
  return gaps;
}

// Confidences as four bytes each, a float in little-endian order; none is NULL.
TValue ConfidenceBlob(const std::vector<float>& confidence)
{
  if (confidence.empty()) return {};
  std::string bytes;
  bytes.reserve(confidence.size() * 4);
  for (const float f : confidence) {
    const auto bits = std::bit_cast<uint32_t>(f);
    for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<char>((bits >> (8 * k)) & 0xFF));
  }
  return db::TBlob{std::move(bytes)};
}

// The confidences of a blob; none for a blob whose length is not a multiple of four.
std::vector<float> ConfidenceFromBlob(const std::string& bytes)
{
  std::vector<float> confidence;
  if (bytes.size() % 4 != 0) return confidence;
  confidence.reserve(bytes.size() / 4);
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + k])) << (8 * k);
    confidence.push_back(std::bit_cast<float>(bits));
  }
  return confidence;
}

// --- The columns of a message ---------------------------------------------------------

// One column that a message and each of its copies have: its kind, the
// schema that added it (a store from before reads Default in its place, and
// a column added later is declared with it), whether a repeat replaces it
// with the merged message's, and how a message is written to it and read
// from it.
struct TColumn {
  const char* Name;
  TType Type;
  bool NotNull;
  int Since;
  const char* Default;
  bool Merged;
  TValue (*Value)(const TMessage&);
  void (*Read)(const TRow&, int, TMessage&);
};

template <auto Field>
TValue IntOf(const TMessage& m)
{
  return static_cast<int64_t>(m.*Field);
}
template <auto Field>
void ReadInt(const TRow& r, int c, TMessage& m)
{
  using T = std::remove_cvref_t<decltype(m.*Field)>;
  if constexpr (std::is_same_v<T, bool>)
    m.*Field = r.Int(c) != 0;
  else
    m.*Field = static_cast<T>(r.Int(c));
}
template <auto Field>
TValue RealOf(const TMessage& m)
{
  return m.*Field;
}
template <auto Field>
void ReadReal(const TRow& r, int c, TMessage& m)
{
  m.*Field = r.Real(c);
}
template <auto Field>
TValue TextOf(const TMessage& m)
{
  return m.*Field;
}
template <auto Field>
void ReadText(const TRow& r, int c, TMessage& m)
{
  m.*Field = r.Text(c);
}
// Numbers that may be unknown: NULL then.
template <auto Field>
TValue MaybeRealOf(const TMessage& m)
{
  return m.*Field ? TValue(*(m.*Field)) : TValue();
}
template <auto Field>
void ReadMaybeReal(const TRow& r, int c, TMessage& m)
{
  if (!r.Null(c)) m.*Field = r.Real(c);
}
// B1 and B2: one letter, or NULL when unknown.
template <auto Field>
TValue LetterOf(const TMessage& m)
{
  const char c = m.*Field;
  return c ? TValue(std::string(1, c)) : TValue();
}
template <auto Field>
void ReadLetter(const TRow& r, int c, TMessage& m)
{
  const std::string t = r.Text(c);
  m.*Field = t.size() == 1 ? t[0] : '\0';
}

// Schema 5: the selection mark on messages and copies, and the listener's
// marks (opened, kept) on messages.
constexpr int MarksSince = 5;

constexpr TColumn Columns[] = {
    {"ident", TType::Text, true, 1, "", false, TextOf<&TMessage::Id>, ReadText<&TMessage::Id>},
    {"has_header", TType::Int, true, 1, "", false, IntOf<&TMessage::HasHeader>, ReadInt<&TMessage::HasHeader>},
    {"header_ok", TType::Int, true, 1, "", false, IntOf<&TMessage::HeaderOk>, ReadInt<&TMessage::HeaderOk>},
    {"trailer", TType::Int, true, 1, "", true, IntOf<&TMessage::Trailer>, ReadInt<&TMessage::Trailer>},
    {"station", TType::Text, false, 1, "", false, LetterOf<&TMessage::Station>, ReadLetter<&TMessage::Station>},
    {"subject", TType::Text, false, 1, "", false, LetterOf<&TMessage::Subject>, ReadLetter<&TMessage::Subject>},
    {"serial", TType::Int, false, 1, "", false,
     [](const TMessage& m) { return m.Serial >= 0 ? TValue(int64_t{m.Serial}) : TValue(); },
     [](const TRow& r, int c, TMessage& m) { m.Serial = r.Null(c) ? -1 : static_cast<int>(r.Int(c)); }},
    {"service", TType::Text, true, 1, "", false,
     [](const TMessage& m) { return TValue(std::string(ServiceName(m.Service))); },
     [](const TRow& r, int c, TMessage& m) {
       m.Service = r.Text(c) == ServiceName(TService::Japanese) ? TService::Japanese : TService::English;
     }},
    {"decoder", TType::Text, true, 1, "", false, TextOf<&TMessage::Decoder>, ReadText<&TMessage::Decoder>},
    {"start_time", TType::Real, true, 1, "", false, RealOf<&TMessage::Start>, ReadReal<&TMessage::Start>},
    {"end_time", TType::Real, true, 1, "", false, RealOf<&TMessage::End>, ReadReal<&TMessage::End>},
    {"start_offset", TType::Real, false, 1, "", false, MaybeRealOf<&TMessage::Offset>,
     ReadMaybeReal<&TMessage::Offset>},
    {"text", TType::Blob, true, 1, "", true, [](const TMessage& m) { return TValue(db::TBlob{m.Text}); },
     ReadText<&TMessage::Text>},
    // The text in UTF-8, for searching; read from `text`.
    {"text_utf8", TType::Text, true, 1, "", true, [](const TMessage& m) { return TValue(Cp932ToUtf8(m.Text)); },
     [](const TRow&, int, TMessage&) {}},
    {"gaps", TType::Text, true, 1, "", true, [](const TMessage& m) { return TValue(GapsJson(m.Gaps)); },
     [](const TRow& r, int c, TMessage& m) { m.Gaps = GapsFromJson(r.Text(c)); }},
    {"chars", TType::Int, true, 1, "", true, IntOf<&TMessage::Chars>, ReadInt<&TMessage::Chars>},
    {"erasures", TType::Int, true, 1, "", true, IntOf<&TMessage::Erasures>, ReadInt<&TMessage::Erasures>},
    {"suspicious", TType::Int, true, 1, "", true, IntOf<&TMessage::Suspicious>, ReadInt<&TMessage::Suspicious>},
    {"lost", TType::Int, true, 1, "", true, IntOf<&TMessage::Lost>, ReadInt<&TMessage::Lost>},
    {"cer", TType::Real, true, 1, "", true, RealOf<&TMessage::Cer>, ReadReal<&TMessage::Cer>},
    // Two receivers on one stereo input; stores from before had only the left.
    {"channel", TType::Text, true, 2, "'left'", false, TextOf<&TMessage::Channel>, ReadText<&TMessage::Channel>},
    // Receivers sharing one store; stores from before do not know theirs.
    {"receiver", TType::Text, true, 3, "''", false, TextOf<&TMessage::Receiver>, ReadText<&TMessage::Receiver>},
    {"frequency", TType::Real, false, 3, "NULL", false, MaybeRealOf<&TMessage::Frequency>,
     ReadMaybeReal<&TMessage::Frequency>},
    // Each character's confidence; copies from before, and the exact path's, have none.
    {"confidence", TType::Blob, false, 4, "NULL", true, [](const TMessage& m) { return ConfidenceBlob(m.Confidence); },
     [](const TRow& r, int c, TMessage& m) {
       if (!r.Null(c)) m.Confidence = ConfidenceFromBlob(r.Text(c));
     }},
    // The listener's selection of stations and subjects; stores from before
    // had everything inside.
    {"selected", TType::Int, true, MarksSince, "1", true, IntOf<&TMessage::Selected>, ReadInt<&TMessage::Selected>},
};
constexpr int ColumnCount = static_cast<int>(std::size(Columns));
constexpr int CopyKeySince = 3;  // copies carry the key they were offered with
constexpr int MergedCopies = 8;  // a message is repaired from at most this many of its copies, the best

// The listener's marks, columns of the messages only: their names in the
// order of TMark.
constexpr const char* MarkColumns[] = {"opened", "kept"};

std::string MarkColumn(TMark mark) { return MarkColumns[static_cast<int>(mark)]; }

// The marks for a SELECT on messages of a store of schema `version`.
std::string MarkNames(int64_t version)
{
  std::string s;
  for (const char* name : MarkColumns) s += (version >= MarksSince ? ", " : ", 0 AS ") + std::string(name);
  return s;
}

std::string MarkDeclarations(const db::TDatabase& d)
{
  std::string s;
  for (const char* name : MarkColumns) s += std::string(", ") + name + " " + d.Type(TType::Int) + " NOT NULL DEFAULT 0";
  return s;
}

static_assert(std::all_of(std::begin(Columns), std::end(Columns),
                          [](const TColumn& c) { return c.Since <= StoreSchemaVersion; }));

// The column names for a SELECT on a store of schema `version`, each after `prefix`.
std::string Names(int64_t version = StoreSchemaVersion, const std::string& prefix = {})
{
  std::string s;
  for (const TColumn& c : Columns) {
    if (!s.empty()) s += ", ";
    s += c.Since <= version ? prefix + c.Name : std::string(c.Default) + " AS " + c.Name;
  }
  return s;
}

std::string Placeholders(int n)
{
  std::string p;
  for (int i = 0; i < n; ++i) p += i ? ", ?" : "?";
  return p;
}

// Every column of `m`, after `params`.
void AppendMessage(TParams& params, const TMessage& m)
{
  for (const TColumn& c : Columns) params.push_back(c.Value(m));
}

// Reads every column from result column `first` on.
TMessage ReadMessage(const TRow& r, int first)
{
  TMessage m;
  for (int i = 0; i < ColumnCount; ++i) Columns[i].Read(r, first + i, m);
  return m;
}

std::string Declaration(const db::TDatabase& d, const TColumn& c)
{
  std::string s = d.Type(c.Type);
  if (c.NotNull) s += " NOT NULL";
  if (c.NotNull && c.Since > 1) s += std::string(" DEFAULT ") + c.Default;
  return s;
}

// A transaction rolled back unless committed.
class TTransaction {
public:
  explicit TTransaction(db::TDatabase& d) : Db(d) {}
  bool Begin(std::string& error, bool write = true) { return Active = Db.Begin(write, error); }
  bool Commit(std::string& error)
  {
    if (!Db.Commit(error)) return false;
    Active = false;
    return true;
  }
  ~TTransaction()
  {
    if (Active) Db.Rollback();
  }

private:
  db::TDatabase& Db;
  bool Active = false;
};

// `error` with what failed in front.
bool Failed(std::string& error, std::string_view what)
{
  error = std::string(what) + ": " + error;
  return false;
}

}  // namespace

// --- The schema --------------------------------------------------------------------------

namespace db {

std::string UpgradeSql(const TDatabase& d, int64_t from)
{
  if (from > 0) {
    std::string sql;
    for (const TColumn& c : Columns)
      if (c.Since > from)
        for (const char* table : {"messages", "copies"})
          sql += std::string("ALTER TABLE ") + table + " ADD COLUMN " + c.Name + " " + Declaration(d, c) + ";";
    if (from < CopyKeySince)
      sql += "ALTER TABLE copies ADD COLUMN copy_key " + d.Type(TType::Text) +
             "; CREATE UNIQUE INDEX copies_key ON copies(copy_key);";
    if (from < MarksSince)
      for (const char* name : MarkColumns)
        sql += std::string("ALTER TABLE messages ADD COLUMN ") + name + " " + d.Type(TType::Int) + " NOT NULL DEFAULT 0;";
    return sql;
  }
  std::string columns;
  for (const TColumn& c : Columns) columns += std::string(", ") + c.Name + " " + Declaration(d, c);
  const std::string flag = d.Type(TType::Flag), real = d.Type(TType::Real), integer = d.Type(TType::Int);
  return "CREATE TABLE messages (id " + d.Type(TType::Key) + columns +
         ",  matchable " + flag + " NOT NULL,"  // copies of it within the window are repeats
         "  first_seen " + real + " NOT NULL, last_seen " + real + " NOT NULL,"
         "  copies " + integer + " NOT NULL, best_copy " + d.Type(TType::Reference) +
         ", seen " + flag + " NOT NULL DEFAULT " + d.Flag(false) + MarkDeclarations(d) + ");"
         "CREATE TABLE copies (id " + d.Type(TType::Key) + ","
         "  message_id " + d.Type(TType::Reference) + " NOT NULL REFERENCES messages(id), repeat " + integer +
         " NOT NULL" + columns + ", copy_key " + d.Type(TType::Text) + ");"
         "CREATE INDEX messages_station ON messages(station, first_seen);"
         "CREATE INDEX messages_subject ON messages(subject, first_seen);"
         "CREATE INDEX messages_time ON messages(first_seen);"
         "CREATE INDEX messages_identity ON messages(ident, last_seen) WHERE matchable;"
         "CREATE INDEX copies_message ON copies(message_id);"
         "CREATE UNIQUE INDEX copies_key ON copies(copy_key);";
}

}  // namespace db

// --- Opening -------------------------------------------------------------------------------

// The stored message a copy repeats, with its best copy.
struct TMessageStore::TRepeated {
  TMessage Message;
  int64_t BestCopy = 0;
  bool Received = false;  // a readable copy of it is stored: later copies are repeats
};

bool IsDatabaseUri(std::string_view location)
{
  return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

TMessageStore::TMessageStore(std::unique_ptr<db::TDatabase> d, int64_t version, bool readOnly)
    : Db(std::move(d)), Version(version), ReadOnly(readOnly)
{
}

TMessageStore::~TMessageStore() = default;

std::unique_ptr<TMessageStore> TMessageStore::Open(const std::string& location, TMode mode, std::string& error)
{
  return Open(location, mode, error, false);
}

std::unique_ptr<TMessageStore> TMessageStore::Open(const std::string& location, TMode mode, std::string& error,
                                                   bool patient)
{
  int64_t version = 0;
  std::unique_ptr<db::TDatabase> d = IsDatabaseUri(location)
                                         ? db::OpenPostgres(location, mode, patient, version, error)
                                         : db::OpenSqlite(location, mode, version, error);
  if (!d) return nullptr;
  return std::unique_ptr<TMessageStore>(new TMessageStore(std::move(d), version, mode == TMode::Read));
}

std::unique_ptr<TMessageStore> TMessageStore::InMemory(std::string& error)
{
  std::unique_ptr<db::TDatabase> d = db::SqliteInMemory(error);
  if (!d) return nullptr;
  return std::unique_ptr<TMessageStore>(new TMessageStore(std::move(d), StoreSchemaVersion, false));
}

void TMessageStore::SetBusyWait(double seconds) { Db->SetBusyWait(seconds); }

bool TMessageStore::Remote() const { return Db->Remote(); }

// --- Storing -------------------------------------------------------------------------------

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error)
{
  bool busy = false;
  return Add(copy, {}, shown, error, busy);
}

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error, bool& busy)
{
  return Add(copy, {}, shown, error, busy);
}

bool TMessageStore::Add(const TMessage& copy, const std::string& key, TMessage& shown, std::string& error,
                        bool& busy)
{
  busy = false;
  if (ReadOnly) {
    error = "the message store was opened for reading only";
    return false;
  }
  TMessage received = copy;
  if (received.Receiver.empty()) received.Receiver = HostName();
  TTransaction tx(*Db);
  TMessage result;
  // Whether the failure may pass is read before the transaction rolls back.
  const bool ok = tx.Begin(error) && AddInTransaction(received, key, result, error) && tx.Commit(error);
  if (!ok) {
    busy = Db->Transient();
    return false;
  }
  shown = std::move(result);
  return true;
}

bool TMessageStore::AddInTransaction(const TMessage& copy, const std::string& key, TMessage& shown,
                                     std::string& error)
{
  if (!key.empty()) {
    std::optional<TMessage> stored;
    if (!FindKey(key, stored, error)) return false;
    if (stored) {
      shown = std::move(*stored);
      return true;
    }
  }
  // Receivers storing copies of one identity at once take turns, so that
  // each sees the message the one before made.
  if (CanSuppress(copy) && !Db->LockIdentity(copy.Id, error)) return Failed(error, "cannot look up repeats");
  std::optional<TRepeated> stored;
  if (!FindRepeat(copy, stored, error)) return false;
  return stored ? AddRepeat(copy, key, *stored, shown, error) : AddFirst(copy, key, shown, error);
}

bool TMessageStore::FindKey(const std::string& key, std::optional<TMessage>& found, std::string& error)
{
  const bool ok = Db->Run("SELECT c.repeat, m.id, m.copies, " + Names(StoreSchemaVersion, "m.") +
                              " FROM copies c JOIN messages m ON m.id = c.message_id WHERE c.copy_key = ?",
                          {key},
                          [&](const TRow& r) {
                            found = ReadMessage(r, 3);
                            found->Repeat = r.Int(0) != 0;
                            found->StoreId = r.Int(1);
                            found->Copies = static_cast<int>(r.Int(2));
                          },
                          error);
  return ok || Failed(error, "cannot look up the copy");
}

bool TMessageStore::FindRepeat(const TMessage& copy, std::optional<TRepeated>& found, std::string& error)
{
  if (!CanSuppress(copy)) return true;
  // Whether the message, or one of its copies, was stored readable (see Readable).
  const std::string readable = "CASE WHEN (trailer <> 0 AND cer < ?) OR EXISTS (SELECT 1 FROM copies c"
                               " WHERE c.message_id = messages.id AND c.trailer <> 0 AND c.cer < ?) THEN 1 ELSE 0 END";
  const bool ok = Db->Run("SELECT id, copies, best_copy, " + readable + ", " + Names() +
                              " FROM messages WHERE matchable AND ident = ? AND last_seen >= ? AND first_seen <= ?"
                              " ORDER BY last_seen DESC LIMIT 1",
                          {ReadableCer, ReadableCer, copy.Id, copy.Start - Window, copy.Start + Window},
                          [&](const TRow& r) {
                            found.emplace();
                            found->Message = ReadMessage(r, 4);
                            found->Message.StoreId = r.Int(0);
                            found->Message.Copies = static_cast<int>(r.Int(1));
                            found->BestCopy = r.Null(2) ? 0 : r.Int(2);
                            found->Received = r.Int(3) != 0;
                          },
                          error);
  return ok || Failed(error, "cannot look up repeats");
}

int64_t TMessageStore::AddCopy(int64_t messageId, bool repeat, const TMessage& copy, const std::string& key,
                               std::string& error)
{
  TParams params{messageId, int64_t{repeat}, key.empty() ? TValue() : TValue(key)};
  AppendMessage(params, copy);
  int64_t id = 0;
  if (!Db->Run("INSERT INTO copies (message_id, repeat, copy_key, " + Names() + ") VALUES (" +
                   Placeholders(ColumnCount + 3) + ") RETURNING id",
               params, [&](const TRow& r) { id = r.Int(0); }, error))
    return Failed(error, "cannot store the copy"), 0;
  if (id == 0) error = "cannot store the copy: the database gave it no number";
  return id;
}

bool TMessageStore::AddFirst(const TMessage& copy, const std::string& key, TMessage& shown, std::string& error)
{
  TParams params;
  AppendMessage(params, copy);
  params.insert(params.end(), {int64_t{CanSuppress(copy)}, copy.Start, copy.Start, int64_t{1}});
  int64_t id = 0;
  if (!Db->Run("INSERT INTO messages (" + Names() + ", matchable, first_seen, last_seen, copies) VALUES (" +
                   Placeholders(ColumnCount + 4) + ") RETURNING id",
               params, [&](const TRow& r) { id = r.Int(0); }, error))
    return Failed(error, "cannot store the message");
  shown = copy;
  shown.Repeat = false;
  shown.Copies = 1;
  shown.StoreId = id;

  const int64_t copyId = AddCopy(shown.StoreId, false, copy, key, error);
  if (copyId == 0) return false;
  if (!Db->Run("UPDATE messages SET best_copy = ? WHERE id = ?", {copyId, shown.StoreId}, nullptr, error))
    return Failed(error, "cannot update the message");
  return true;
}

bool TMessageStore::AddRepeat(const TMessage& copy, const std::string& key, const TRepeated& stored,
                              TMessage& shown, std::string& error)
{
  // The copies the message is repaired from: the best stored ones, in the
  // order received, then this one. A message whose copies are gone (the
  // store was edited) is repaired from itself.
  std::vector<TMessage> copies;
  if (!ReadMessages("WHERE id IN (SELECT id FROM copies WHERE message_id = ? ORDER BY trailer DESC,"
                    " chars - erasures - suspicious DESC, erasures, cer, id LIMIT ?) ORDER BY id",
                    {stored.Message.StoreId, int64_t{MergedCopies - 1}}, true, copies, error))
    return false;
  if (copies.empty()) copies.push_back(stored.Message);
  copies.push_back(copy);

  const int64_t copyId = AddCopy(stored.Message.StoreId, stored.Received, copy, key, error);
  if (copyId == 0) return false;

  // Whether the copy replaces the best copy so far. A best copy that is no
  // longer there (the store was edited) is replaced; one that cannot be
  // read is an error.
  bool better = true;
  if (stored.BestCopy != 0 &&
      !Db->Run("SELECT " + Names() + " FROM copies WHERE id = ?", {stored.BestCopy},
               [&](const TRow& r) { better = Better(copy, ReadMessage(r, 0)); }, error))
    return Failed(error, "cannot read the best copy");

  // The message keeps the times of its first reception; its text and
  // quality become the repaired ones.
  TMessage merged = MergeCopies(copies);
  merged.Copies = stored.Message.Copies + 1;
  merged.StoreId = stored.Message.StoreId;
  merged.Selected = stored.Message.Selected || copy.Selected;
  // Until a readable copy was stored, a copy is news to the listener.
  merged.Repeat = stored.Received;
  std::string sql = "UPDATE messages SET ";
  TParams params;
  for (const TColumn& c : Columns)
    if (c.Merged) {
      sql += std::string(c.Name) + " = ?, ";
      params.push_back(c.Value(merged));
    }
  sql += "copies = copies + 1, last_seen = " + Db->Greatest("last_seen", "?") + ", best_copy = ? WHERE id = ?";
  params.insert(params.end(), {copy.Start, better ? copyId : stored.BestCopy, stored.Message.StoreId});
  if (!Db->Run(sql, params, nullptr, error)) return Failed(error, "cannot update the message");
  shown = std::move(merged);
  return true;
}

// --- Reading -------------------------------------------------------------------------------

bool TMessageStore::ReadMessages(const std::string& where, const TParams& params, bool ofCopies,
                                 std::vector<TMessage>& out, std::string& error)
{
  if (Version == 0) return true;  // an empty file or database: no message yet
  const std::string sql = ofCopies ? "SELECT message_id, repeat, " + Names(Version) + " FROM copies " + where
                                   : "SELECT id, copies, " + Names(Version) + MarkNames(Version) + " FROM messages " + where;
  const bool ok = Db->Run(sql, params,
                          [&](const TRow& r) {
                            TMessage m = ReadMessage(r, 2);
                            m.StoreId = r.Int(0);
                            if (ofCopies) {
                              m.Repeat = r.Int(1) != 0;
                            } else {
                              m.Copies = static_cast<int>(r.Int(1));
                              m.Repeat = false;
                              m.Opened = r.Int(2 + ColumnCount) != 0;
                              m.Kept = r.Int(3 + ColumnCount) != 0;
                            }
                            out.push_back(std::move(m));
                          },
                          error);
  return ok || Failed(error, "cannot read the store");
}

bool TMessageStore::List(const TStoreFilter& f, std::vector<TMessage>& out, std::string& error)
{
  std::vector<std::string> where;
  TParams params;
  // Stations and subjects are letters: anything else matches nothing.
  auto oneOf = [&](const char* column, const std::string& letters) {
    if (letters.empty()) return;
    std::string in;
    for (const char c : letters) {
      if (static_cast<unsigned char>(c) >= 0x80) continue;
      in += in.empty() ? "?" : ", ?";
      params.push_back(std::string(1, c));
    }
    where.push_back(in.empty() ? std::string("1 = 0") : std::string(column) + " IN (" + in + ")");
  };
  oneOf("station", f.Stations);
  oneOf("subject", f.Subjects);
  if (f.Since) {
    where.push_back("first_seen >= ?");
    params.push_back(*f.Since);
  }
  if (f.Until) {
    where.push_back("first_seen <= ?");
    params.push_back(*f.Until);
  }
  if (!f.Grep.empty()) {
    std::string pattern = "%";
    for (const char c : f.Grep) {
      if (c == '%' || c == '_' || c == '\\') pattern += '\\';
      pattern += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    where.push_back(Db->LikeAnyCase("text_utf8"));
    params.push_back(pattern + '%');
  }
  if (f.NewOnly) where.push_back("NOT seen");
  if (f.SelectedOnly && Version >= MarksSince) where.push_back("selected <> 0");
  std::string sql;
  for (const std::string& w : where) sql += (sql.empty() ? "WHERE " : " AND ") + w;
  return ReadMessages(sql + " ORDER BY first_seen, id", params, false, out, error);
}

bool TMessageStore::Find(std::string_view id, std::vector<TMessage>& out, std::string& error)
{
  return ReadMessages("WHERE ident = ? ORDER BY first_seen DESC, id DESC", {std::string(id)}, false, out, error);
}

bool TMessageStore::Copies(int64_t storeId, std::vector<TMessage>& out, std::string& error)
{
  return ReadMessages("WHERE message_id = ? ORDER BY id", {storeId}, true, out, error);
}

bool TMessageStore::BestCopy(int64_t storeId, TMessage& out, std::string& error)
{
  std::vector<TMessage> found;
  if (!ReadMessages("WHERE id = (SELECT best_copy FROM messages WHERE id = ?)", {storeId}, true, found, error))
    return false;
  if (found.empty()) return error = "no best copy of stored message " + std::to_string(storeId), false;
  out = std::move(found.front());
  return true;
}

bool TMessageStore::MarkSeen(const std::vector<TMessage>& messages, std::string& error)
{
  if (ReadOnly) {
    error = "cannot mark messages seen: the message store was opened for reading only";
    return false;
  }
  TTransaction tx(*Db);
  if (!tx.Begin(error)) return Failed(error, "cannot mark messages seen");
  for (const TMessage& m : messages)
    if (!Db->Run("UPDATE messages SET seen = " + Db->Flag(true) + " WHERE id = ?", {m.StoreId}, nullptr, error))
      return Failed(error, "cannot mark messages seen");
  return tx.Commit(error) || Failed(error, "cannot mark messages seen");
}

bool TMessageStore::SetMark(TMark mark, const std::vector<int64_t>& storeIds, bool on, std::string& error)
{
  const std::string what = mark == TMark::Opened ? "cannot mark messages opened" : "cannot tag messages to keep";
  if (ReadOnly) {
    error = what + ": the message store was opened for reading only";
    return false;
  }
  if (storeIds.empty()) return true;
  if (Version < MarksSince) {
    error = what + ": the store is of an older schema";
    return false;
  }
  TTransaction tx(*Db);
  if (!tx.Begin(error)) return Failed(error, what);
  const std::string sql = "UPDATE messages SET " + MarkColumn(mark) + " = ? WHERE id = ?";
  for (const int64_t id : storeIds)
    if (!Db->Run(sql, {int64_t{on}, id}, nullptr, error)) return Failed(error, what);
  return tx.Commit(error) || Failed(error, what);
}

bool TMessageStore::Get(int64_t storeId, TMessage& out, std::string& error)
{
  std::vector<TMessage> found;
  if (!ReadMessages("WHERE id = ?", {storeId}, false, found, error)) return false;
  if (found.empty()) return error = "no stored message " + std::to_string(storeId), false;
  out = std::move(found.front());
  return true;
}

std::string DefaultStorePath(std::string& error)
{
  const char* xdg = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (xdg && *xdg && fs::path(xdg).is_absolute()) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      error = "neither XDG_DATA_HOME nor HOME is set: give the store with --store FILE";
      return {};
    }
    base = fs::path(home) / ".local" / "share";
  }
  return (base / "brontel" / "messages.sqlite").string();
}

}  // namespace brontel::msg
