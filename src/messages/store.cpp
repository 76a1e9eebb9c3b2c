#include "messages/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <utility>

#include "decoder/cp932.h"
#include "messages/repair.h"

namespace brontel::msg {

namespace {

namespace fs = std::filesystem;

constexpr int ApplicationId = 0x42524D53;  // "BRMS" in the database header

// Columns a message and a copy share, in the order Bind and Read use.
constexpr const char* MessageColumns =
    "ident, has_header, header_ok, trailer, station, subject, serial, service, decoder, "
    "start_time, end_time, start_offset, text, text_utf8, gaps, chars, erasures, suspicious, lost, cer, "
    "channel";
constexpr int MessageColumnCount = 21;

// Schema steps: entry v takes a store from schema v to v + 1.
constexpr std::array<const char*, StoreSchemaVersion> Migrations = {
    // 0 -> 1: messages, their copies, and the indexes the listing and the
    // repeat look-up use.
    "CREATE TABLE messages ("
    "  id INTEGER PRIMARY KEY,"
    "  ident TEXT NOT NULL, has_header INTEGER NOT NULL, header_ok INTEGER NOT NULL,"
    "  trailer INTEGER NOT NULL, station TEXT, subject TEXT, serial INTEGER,"
    "  service TEXT NOT NULL, decoder TEXT NOT NULL,"
    "  start_time REAL NOT NULL, end_time REAL NOT NULL, start_offset REAL,"
    "  text BLOB NOT NULL, text_utf8 TEXT NOT NULL, gaps TEXT NOT NULL,"
    "  chars INTEGER NOT NULL, erasures INTEGER NOT NULL, suspicious INTEGER NOT NULL,"
    "  lost INTEGER NOT NULL, cer REAL NOT NULL,"
    "  matchable INTEGER NOT NULL,"   // copies of it within the window are repeats
    "  first_seen REAL NOT NULL, last_seen REAL NOT NULL,"
    "  copies INTEGER NOT NULL, best_copy INTEGER, seen INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE copies ("
    "  id INTEGER PRIMARY KEY,"
    "  message_id INTEGER NOT NULL REFERENCES messages(id), repeat INTEGER NOT NULL,"
    "  ident TEXT NOT NULL, has_header INTEGER NOT NULL, header_ok INTEGER NOT NULL,"
    "  trailer INTEGER NOT NULL, station TEXT, subject TEXT, serial INTEGER,"
    "  service TEXT NOT NULL, decoder TEXT NOT NULL,"
    "  start_time REAL NOT NULL, end_time REAL NOT NULL, start_offset REAL,"
    "  text BLOB NOT NULL, text_utf8 TEXT NOT NULL, gaps TEXT NOT NULL,"
    "  chars INTEGER NOT NULL, erasures INTEGER NOT NULL, suspicious INTEGER NOT NULL,"
    "  lost INTEGER NOT NULL, cer REAL NOT NULL);"
    "CREATE INDEX messages_station ON messages(station, first_seen);"
    "CREATE INDEX messages_subject ON messages(subject, first_seen);"
    "CREATE INDEX messages_time ON messages(first_seen);"
    "CREATE INDEX messages_identity ON messages(ident, last_seen) WHERE matchable;"
    "CREATE INDEX copies_message ON copies(message_id);",
    // 1 -> 2: the input channel a message came in on (two receivers on one
    // stereo input); stores from before had only the left.
    "ALTER TABLE messages ADD COLUMN channel TEXT NOT NULL DEFAULT 'left';"
    "ALTER TABLE copies ADD COLUMN channel TEXT NOT NULL DEFAULT 'left';",
};

// A lock another connection holds: the same statement may succeed later.
bool IsBusy(int code) { return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED; }

std::string DbError(sqlite3* db, std::string_view what)
{
  return std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

// One prepared statement, finalised on every path.
class TStmt {
public:
  TStmt(sqlite3* db, const std::string& sql)
  {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &S, nullptr) != SQLITE_OK) S = nullptr;
  }
  ~TStmt() { sqlite3_finalize(S); }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;
  bool Ok() const { return S != nullptr; }
  sqlite3_stmt* operator*() const { return S; }

  void Bind(int i, std::string_view text) { sqlite3_bind_text(S, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT); }
  void BindBlob(int i, std::string_view bytes) { sqlite3_bind_blob(S, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT); }
  void Bind(int i, int64_t v) { sqlite3_bind_int64(S, i, v); }
  void Bind(int i, double v) { sqlite3_bind_double(S, i, v); }
  void BindNull(int i) { sqlite3_bind_null(S, i); }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(S); }

  std::string Text(int c) const
  {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(S, c));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(S, c))) : std::string();
  }
  int64_t Int(int c) const { return sqlite3_column_int64(S, c); }
  double Real(int c) const { return sqlite3_column_double(S, c); }
  bool Null(int c) const { return sqlite3_column_type(S, c) == SQLITE_NULL; }

private:
  sqlite3_stmt* S = nullptr;
};

bool Exec(sqlite3* db, const char* sql, std::string& error, std::string_view what)
{
  char* msg = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = std::string(what) + ": " + (msg ? msg : sqlite3_errmsg(db));
  sqlite3_free(msg);
  return false;
}

// A transaction rolled back unless committed.
class TTransaction {
public:
  explicit TTransaction(sqlite3* db) : Db(db) {}
  bool Begin(std::string& error) { return Active = Exec(Db, "BEGIN IMMEDIATE", error, "cannot start a transaction"); }
  bool Commit(std::string& error)
  {
    if (!Exec(Db, "COMMIT", error, "cannot commit")) return false;
    Active = false;
    return true;
  }
  ~TTransaction()
  {
    if (Active) sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

private:
  sqlite3* Db;
  bool Active = false;
};

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

// Binds the message columns from parameter `first` on.
void BindMessage(TStmt& s, int first, const TMessage& m)
{
  int i = first;
  s.Bind(i++, m.Id);
  s.Bind(i++, int64_t{m.HasHeader});
  s.Bind(i++, int64_t{m.HeaderOk});
  s.Bind(i++, int64_t{m.Trailer});
  if (m.Station) s.Bind(i++, std::string_view(&m.Station, 1)); else s.BindNull(i++);
  if (m.Subject) s.Bind(i++, std::string_view(&m.Subject, 1)); else s.BindNull(i++);
  if (m.Serial >= 0) s.Bind(i++, int64_t{m.Serial}); else s.BindNull(i++);
  s.Bind(i++, ServiceName(m.Service));
  s.Bind(i++, m.Decoder);
  s.Bind(i++, m.Start);
  s.Bind(i++, m.End);
  if (m.Offset) s.Bind(i++, *m.Offset); else s.BindNull(i++);
  s.BindBlob(i++, m.Text);
  s.Bind(i++, Cp932ToUtf8(m.Text));
  s.Bind(i++, GapsJson(m.Gaps));
  s.Bind(i++, int64_t{m.Chars});
  s.Bind(i++, int64_t{m.Erasures});
  s.Bind(i++, int64_t{m.Suspicious});
  s.Bind(i++, int64_t{m.Lost});
  s.Bind(i++, m.Cer);
  s.Bind(i++, m.Channel);
}

// Reads the message columns from result column `first` on.
TMessage ReadMessage(const TStmt& s, int first)
{
  TMessage m;
  int c = first;
  m.Id = s.Text(c++);
  m.HasHeader = s.Int(c++) != 0;
  m.HeaderOk = s.Int(c++) != 0;
  m.Trailer = s.Int(c++) != 0;
  const std::string station = s.Text(c++), subject = s.Text(c++);
  m.Station = station.size() == 1 ? station[0] : '\0';
  m.Subject = subject.size() == 1 ? subject[0] : '\0';
  m.Serial = s.Null(c) ? -1 : static_cast<int>(s.Int(c));
  ++c;
  m.Service = s.Text(c++) == "japanese" ? TService::Japanese : TService::English;
  m.Decoder = s.Text(c++);
  m.Start = s.Real(c++);
  m.End = s.Real(c++);
  if (!s.Null(c)) m.Offset = s.Real(c);
  ++c;
  m.Text = s.Text(c++);
  ++c;  // text_utf8
  m.Gaps = GapsFromJson(s.Text(c++));
  m.Chars = static_cast<int>(s.Int(c++));
  m.Erasures = static_cast<int>(s.Int(c++));
  m.Suspicious = static_cast<int>(s.Int(c++));
  m.Lost = static_cast<int>(s.Int(c++));
  m.Cer = s.Real(c++);
  m.Channel = s.Text(c++);
  return m;
}

std::string Placeholders(int n)
{
  std::string p;
  for (int i = 0; i < n; ++i) p += i ? ", ?" : "?";
  return p;
}

// Reads the first bytes of `path`; a non-empty file must start with SQLite's header.
bool LooksLikeSqlite(const std::string& path, std::string& error)
{
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) {
    error = "cannot read " + path + ": " + ec.message();
    return false;
  }
  if (size == 0) return true;
  std::ifstream in(path, std::ios::binary);
  std::array<char, 16> head{};
  if (!in.read(head.data(), head.size())) {
    error = path + " is not a message store (too short to be an SQLite database); it was left as it is";
    return false;
  }
  if (std::string_view(head.data(), head.size()) != std::string_view("SQLite format 3\0", 16)) {
    error = path + " is not a message store (not an SQLite database); it was left as it is";
    return false;
  }
  return true;
}

bool PragmaInt(sqlite3* db, const char* sql, int64_t& value, std::string& error)
{
  TStmt s(db, sql);
  if (!s.Ok() || s.Step() != SQLITE_ROW) {
    error = sqlite3_errmsg(db);
    return false;
  }
  value = s.Int(0);
  return true;
}

// Whether an opened database is a message store this program can use: ours
// (or empty), not newer, and undamaged. Only reads.
bool Check(sqlite3* db, const std::string& path, std::string& error)
{
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, 5000);
  const std::string leftAlone = "; it was left as it is";
  int64_t appId = 0, version = 0, objects = 0;
  if (!PragmaInt(db, "PRAGMA application_id", appId, error) || !PragmaInt(db, "PRAGMA user_version", version, error) ||
      !PragmaInt(db, "SELECT count(*) FROM sqlite_schema", objects, error)) {
    error = path + " cannot be read as a message store (" + error + ")" + leftAlone;
    return false;
  }
  if (appId != ApplicationId && (appId != 0 || objects != 0)) {
    error = path + " is an SQLite database of another program, not a message store" + leftAlone;
    return false;
  }
  if (version > StoreSchemaVersion) {
    error = path + " was written by a newer Brontel (store schema " + std::to_string(version) +
            ", this program knows up to " + std::to_string(StoreSchemaVersion) + ")" + leftAlone;
    return false;
  }
  {
    TStmt check(db, "PRAGMA quick_check");
    const int rc = check.Ok() ? check.Step() : SQLITE_ERROR;
    const std::string result = rc == SQLITE_ROW ? check.Text(0) : sqlite3_errmsg(db);
    if (result != "ok") {
      error = path + " is damaged (" + result + ")" + leftAlone +
              "; move it aside to start a new store";
      return false;
    }
  }
  return true;
}

// Checks a database opened for writing and brings it to the current schema.
bool Prepare(sqlite3* db, const std::string& path, bool file, std::string& error)
{
  if (!Check(db, path, error)) return false;
  int64_t version = 0;
  if (!PragmaInt(db, "PRAGMA user_version", version, error)) return false;
  if (file) {
    TStmt wal(db, "PRAGMA journal_mode=WAL");
    if (!wal.Ok() || wal.Step() != SQLITE_ROW || wal.Text(0) != "wal") {
      error = DbError(db, "cannot switch " + path + " to write-ahead logging");
      return false;
    }
  }
  if (!Exec(db, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", error, "cannot configure " + path))
    return false;
  if (version == StoreSchemaVersion) return true;

  TTransaction tx(db);
  if (!tx.Begin(error)) return false;
  for (int64_t v = version; v < StoreSchemaVersion; ++v)
    if (!Exec(db, Migrations[static_cast<std::size_t>(v)], error,
              "cannot bring " + path + " to store schema " + std::to_string(v + 1)))
      return false;
  const std::string stamp = "PRAGMA application_id=" + std::to_string(ApplicationId) +
                            "; PRAGMA user_version=" + std::to_string(StoreSchemaVersion);
  if (!Exec(db, stamp.c_str(), error, "cannot mark " + path)) return false;
  return tx.Commit(error);
}

}  // namespace

std::unique_ptr<TMessageStore> TMessageStore::Open(const std::string& path, TMode mode, std::string& error)
{
  std::error_code ec;
  const bool exists = fs::exists(path, ec);
  if (!exists) {
    if (mode == TMode::Existing) {
      error = "no message store at " + path;
      return nullptr;
    }
    const fs::path dir = fs::path(path).parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);
    if (ec) {
      error = "cannot create " + dir.string() + ": " + ec.message();
      return nullptr;
    }
  } else if (!LooksLikeSqlite(path, error)) {
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (exists) {
    // Refusals are found through a read-only connection, which never writes
    // to the file, not even to recover or checkpoint its log.
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    const bool usable = rc == SQLITE_OK ? Check(db, path, error) : (error = DbError(db, "cannot open " + path), false);
    sqlite3_close(db);
    db = nullptr;
    if (!usable) return nullptr;
  }
  const int flags = SQLITE_OPEN_READWRITE | (mode == TMode::Create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = DbError(db, "cannot open " + path);
    sqlite3_close(db);
    return nullptr;
  }
  // SQLite quietly opens a file it may not write read-only; a store opened
  // to be written must say at once that it cannot be.
  if (sqlite3_db_readonly(db, "main") == 1) {
    error = path + " cannot be written (a read-only file, folder or file system): messages could not be stored";
    sqlite3_close(db);
    return nullptr;
  }
  if (!Prepare(db, path, true, error)) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<TMessageStore>(new TMessageStore(db));
}

std::unique_ptr<TMessageStore> TMessageStore::InMemory(std::string& error)
{
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK || !Prepare(db, "the store in memory", false, error)) {
    if (error.empty()) error = DbError(db, "cannot open a store in memory");
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<TMessageStore>(new TMessageStore(db));
}

TMessageStore::~TMessageStore() { sqlite3_close(Db); }

void TMessageStore::SetBusyWait(double seconds)
{
  sqlite3_busy_timeout(Db, static_cast<int>(std::clamp(seconds, 0.0, 86400.0) * 1000.0));
}

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error)
{
  bool busy = false;
  return Add(copy, shown, error, busy);
}

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error, bool& busy)
{
  TTransaction tx(Db);
  busy = false;
  TMessage result;
  // The result code is read before the transaction rolls back.
  const bool ok = tx.Begin(error) && AddInTransaction(copy, result, error) && tx.Commit(error);
  if (!ok) {
    busy = IsBusy(sqlite3_extended_errcode(Db));
    return false;
  }
  shown = std::move(result);
  return true;
}

bool TMessageStore::AddInTransaction(const TMessage& copy, TMessage& shown, std::string& error)
{

  // The stored message this copy repeats, if any, with its best copy.
  std::optional<TMessage> stored;
  int64_t bestCopy = 0;
  if (CanSuppress(copy)) {
    TStmt s(Db, std::string("SELECT id, copies, best_copy, ") + MessageColumns +
                    " FROM messages WHERE matchable AND ident = ? AND last_seen >= ? AND first_seen <= ?"
                    " ORDER BY last_seen DESC LIMIT 1");
    if (!s.Ok()) return error = DbError(Db, "cannot look up repeats"), false;
    s.Bind(1, copy.Id);
    s.Bind(2, copy.Start - Window);
    s.Bind(3, copy.Start + Window);
    const int rc = s.Step();
    if (rc == SQLITE_ROW) {
      stored = ReadMessage(s, 3);
      stored->StoreId = s.Int(0);
      stored->Copies = static_cast<int>(s.Int(1));
      bestCopy = s.Int(2);
    } else if (rc != SQLITE_DONE) {
      return error = DbError(Db, "cannot look up repeats"), false;
    }
  }

  TMessage result;
  if (stored) {
    result = Merge(*stored, copy);
  } else {
    result = copy;
    result.Repeat = false;
    result.Copies = 1;
    TStmt s(Db, std::string("INSERT INTO messages (") + MessageColumns +
                    ", matchable, first_seen, last_seen, copies) VALUES (" +
                    Placeholders(MessageColumnCount + 4) + ")");
    if (!s.Ok()) return error = DbError(Db, "cannot store the message"), false;
    BindMessage(s, 1, copy);
    s.Bind(MessageColumnCount + 1, int64_t{CanSuppress(copy)});
    s.Bind(MessageColumnCount + 2, copy.Start);
    s.Bind(MessageColumnCount + 3, copy.Start);
    s.Bind(MessageColumnCount + 4, int64_t{1});
    if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot store the message"), false;
    result.StoreId = sqlite3_last_insert_rowid(Db);
  }

  // The copy itself.
  int64_t copyId = 0;
  {
    TStmt s(Db, std::string("INSERT INTO copies (message_id, repeat, ") + MessageColumns + ") VALUES (" +
                    Placeholders(MessageColumnCount + 2) + ")");
    if (!s.Ok()) return error = DbError(Db, "cannot store the copy"), false;
    s.Bind(1, result.StoreId);
    s.Bind(2, int64_t{stored.has_value()});
    BindMessage(s, 3, copy);
    if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot store the copy"), false;
    copyId = sqlite3_last_insert_rowid(Db);
  }

  if (stored) {
    // The best copy so far, to see whether this one replaces it.
    bool better = bestCopy == 0;
    if (!better) {
      TStmt s(Db, std::string("SELECT ") + MessageColumns + " FROM copies WHERE id = ?");
      if (!s.Ok()) return error = DbError(Db, "cannot read the best copy"), false;
      s.Bind(1, bestCopy);
      better = s.Step() != SQLITE_ROW || Better(copy, ReadMessage(s, 0));
    }
    // The message keeps the times of its first reception; text and quality are the merged ones.
    TStmt s(Db, "UPDATE messages SET trailer = ?, text = ?, text_utf8 = ?, gaps = ?, chars = ?, erasures = ?,"
                " suspicious = ?, lost = ?, cer = ?, copies = copies + 1, last_seen = max(last_seen, ?),"
                " best_copy = ? WHERE id = ?");
    if (!s.Ok()) return error = DbError(Db, "cannot update the message"), false;
    s.Bind(1, int64_t{result.Trailer});
    s.BindBlob(2, result.Text);
    s.Bind(3, Cp932ToUtf8(result.Text));
    s.Bind(4, GapsJson(result.Gaps));
    s.Bind(5, int64_t{result.Chars});
    s.Bind(6, int64_t{result.Erasures});
    s.Bind(7, int64_t{result.Suspicious});
    s.Bind(8, int64_t{result.Lost});
    s.Bind(9, result.Cer);
    s.Bind(10, copy.Start);
    s.Bind(11, better ? copyId : bestCopy);
    s.Bind(12, result.StoreId);
    if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot update the message"), false;
  } else {
    TStmt s(Db, "UPDATE messages SET best_copy = ? WHERE id = ?");
    if (!s.Ok()) return error = DbError(Db, "cannot update the message"), false;
    s.Bind(1, copyId);
    s.Bind(2, result.StoreId);
    if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot update the message"), false;
  }
  shown = std::move(result);
  return true;
}

namespace {

bool ReadAll(sqlite3* db, TStmt& s, int first, std::vector<TMessage>& out, std::string& error, bool withCounts)
{
  for (;;) {
    const int rc = s.Step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return error = DbError(db, "cannot read the store"), false;
    TMessage m = ReadMessage(s, first);
    m.StoreId = s.Int(0);
    if (withCounts) {
      m.Copies = static_cast<int>(s.Int(1));
      m.Repeat = false;
    } else {
      m.Repeat = s.Int(1) != 0;
    }
    out.push_back(std::move(m));
  }
}

}  // namespace

bool TMessageStore::List(const TStoreFilter& f, std::vector<TMessage>& out, std::string& error)
{
  std::string sql = std::string("SELECT id, copies, ") + MessageColumns + " FROM messages WHERE 1";
  if (!f.Stations.empty()) sql += " AND instr(?1, station) > 0";
  if (!f.Subjects.empty()) sql += " AND instr(?2, subject) > 0";
  if (f.Since) sql += " AND first_seen >= ?3";
  if (f.Until) sql += " AND first_seen <= ?4";
  if (!f.Grep.empty()) sql += " AND text_utf8 LIKE ?5 ESCAPE '\\'";
  if (f.NewOnly) sql += " AND NOT seen";
  sql += " ORDER BY first_seen, id";
  TStmt s(Db, sql);
  if (!s.Ok()) return error = DbError(Db, "cannot read the store"), false;
  if (!f.Stations.empty()) s.Bind(1, f.Stations);
  if (!f.Subjects.empty()) s.Bind(2, f.Subjects);
  if (f.Since) s.Bind(3, *f.Since);
  if (f.Until) s.Bind(4, *f.Until);
  if (!f.Grep.empty()) {
    std::string pattern = "%";
    for (char c : f.Grep) {
      if (c == '%' || c == '_' || c == '\\') pattern += '\\';
      pattern += c;
    }
    s.Bind(5, pattern + "%");
  }
  return ReadAll(Db, s, 2, out, error, true);
}

bool TMessageStore::Find(std::string_view id, std::vector<TMessage>& out, std::string& error)
{
  TStmt s(Db, std::string("SELECT id, copies, ") + MessageColumns +
                  " FROM messages WHERE ident = ? ORDER BY first_seen DESC, id DESC");
  if (!s.Ok()) return error = DbError(Db, "cannot read the store"), false;
  s.Bind(1, id);
  return ReadAll(Db, s, 2, out, error, true);
}

bool TMessageStore::Copies(int64_t storeId, std::vector<TMessage>& out, std::string& error)
{
  TStmt s(Db, std::string("SELECT message_id, repeat, ") + MessageColumns +
                  " FROM copies WHERE message_id = ? ORDER BY id");
  if (!s.Ok()) return error = DbError(Db, "cannot read the store"), false;
  s.Bind(1, storeId);
  return ReadAll(Db, s, 2, out, error, false);
}

bool TMessageStore::MarkSeen(const std::vector<TMessage>& messages, std::string& error)
{
  TTransaction tx(Db);
  if (!tx.Begin(error)) return false;
  TStmt s(Db, "UPDATE messages SET seen = 1 WHERE id = ?");
  if (!s.Ok()) return error = DbError(Db, "cannot mark messages seen"), false;
  for (const TMessage& m : messages) {
    sqlite3_reset(*s);
    s.Bind(1, m.StoreId);
    if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot mark messages seen"), false;
  }
  return tx.Commit(error);
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
