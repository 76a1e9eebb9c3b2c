#include "messages/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <type_traits>
#include <utility>

#include "decoder/cp932.h"
#include "messages/repair.h"

namespace brontel::msg {

namespace {

namespace fs = std::filesystem;

constexpr int ApplicationId = 0x42524D53;  // "BRMS" in the database header
constexpr int BusyWaitMs = 5000;           // how long a statement waits for another connection's lock
constexpr double OpenPatience = 60.0;      // seconds creating or upgrading a store waits for other writers

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

bool Exec(sqlite3* db, const std::string& sql, std::string& error, std::string_view what)
{
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = std::string(what) + ": " + (msg ? msg : sqlite3_errmsg(db));
  sqlite3_free(msg);
  return false;
}

// A transaction rolled back unless committed.
class TTransaction {
public:
  explicit TTransaction(sqlite3* db) : Db(db) {}
  // A write transaction takes the store's write lock at once; a read
  // transaction reads one state of the store throughout.
  bool Begin(std::string& error, bool write = true)
  {
    return Active = Exec(Db, write ? "BEGIN IMMEDIATE" : "BEGIN", error, "cannot start a transaction");
  }
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

// --- The columns of a message ---------------------------------------------------------

// One column that a message and each of its copies have: its declaration,
// the schema that added it (a store from before reads Default in its place),
// whether a repeat replaces it with the merged message's, and how a message
// is written to it and read from it.
struct TColumn {
  const char* Name;
  const char* Declaration;
  int Since;
  const char* Default;
  bool Merged;
  void (*Bind)(TStmt&, int, const TMessage&);
  void (*Read)(const TStmt&, int, TMessage&);
};

template <auto Field>
void BindInt(TStmt& s, int i, const TMessage& m)
{
  s.Bind(i, static_cast<int64_t>(m.*Field));
}
template <auto Field>
void ReadInt(const TStmt& s, int c, TMessage& m)
{
  using T = std::remove_cvref_t<decltype(m.*Field)>;
  if constexpr (std::is_same_v<T, bool>)
    m.*Field = s.Int(c) != 0;
  else
    m.*Field = static_cast<T>(s.Int(c));
}
template <auto Field>
void BindReal(TStmt& s, int i, const TMessage& m)
{
  s.Bind(i, m.*Field);
}
template <auto Field>
void ReadReal(const TStmt& s, int c, TMessage& m)
{
  m.*Field = s.Real(c);
}
template <auto Field>
void BindText(TStmt& s, int i, const TMessage& m)
{
  s.Bind(i, m.*Field);
}
template <auto Field>
void ReadText(const TStmt& s, int c, TMessage& m)
{
  m.*Field = s.Text(c);
}
// B1 and B2: one letter, or NULL when unknown.
template <auto Field>
void BindLetter(TStmt& s, int i, const TMessage& m)
{
  const char c = m.*Field;
  if (c) s.Bind(i, std::string_view(&c, 1)); else s.BindNull(i);
}
template <auto Field>
void ReadLetter(const TStmt& s, int c, TMessage& m)
{
  const std::string t = s.Text(c);
  m.*Field = t.size() == 1 ? t[0] : '\0';
}

constexpr TColumn Columns[] = {
    {"ident", "TEXT NOT NULL", 1, "", false, BindText<&TMessage::Id>, ReadText<&TMessage::Id>},
    {"has_header", "INTEGER NOT NULL", 1, "", false, BindInt<&TMessage::HasHeader>, ReadInt<&TMessage::HasHeader>},
    {"header_ok", "INTEGER NOT NULL", 1, "", false, BindInt<&TMessage::HeaderOk>, ReadInt<&TMessage::HeaderOk>},
    {"trailer", "INTEGER NOT NULL", 1, "", true, BindInt<&TMessage::Trailer>, ReadInt<&TMessage::Trailer>},
    {"station", "TEXT", 1, "", false, BindLetter<&TMessage::Station>, ReadLetter<&TMessage::Station>},
    {"subject", "TEXT", 1, "", false, BindLetter<&TMessage::Subject>, ReadLetter<&TMessage::Subject>},
    {"serial", "INTEGER", 1, "", false,
     [](TStmt& s, int i, const TMessage& m) { if (m.Serial >= 0) s.Bind(i, int64_t{m.Serial}); else s.BindNull(i); },
     [](const TStmt& s, int c, TMessage& m) { m.Serial = s.Null(c) ? -1 : static_cast<int>(s.Int(c)); }},
    {"service", "TEXT NOT NULL", 1, "", false,
     [](TStmt& s, int i, const TMessage& m) { s.Bind(i, ServiceName(m.Service)); },
     [](const TStmt& s, int c, TMessage& m) {
       m.Service = s.Text(c) == ServiceName(TService::Japanese) ? TService::Japanese : TService::English;
     }},
    {"decoder", "TEXT NOT NULL", 1, "", false, BindText<&TMessage::Decoder>, ReadText<&TMessage::Decoder>},
    {"start_time", "REAL NOT NULL", 1, "", false, BindReal<&TMessage::Start>, ReadReal<&TMessage::Start>},
    {"end_time", "REAL NOT NULL", 1, "", false, BindReal<&TMessage::End>, ReadReal<&TMessage::End>},
    {"start_offset", "REAL", 1, "", false,
     [](TStmt& s, int i, const TMessage& m) { if (m.Offset) s.Bind(i, *m.Offset); else s.BindNull(i); },
     [](const TStmt& s, int c, TMessage& m) { if (!s.Null(c)) m.Offset = s.Real(c); }},
    {"text", "BLOB NOT NULL", 1, "", true, [](TStmt& s, int i, const TMessage& m) { s.BindBlob(i, m.Text); },
     ReadText<&TMessage::Text>},
    // The text in UTF-8, for searching; read from `text`.
    {"text_utf8", "TEXT NOT NULL", 1, "", true,
     [](TStmt& s, int i, const TMessage& m) { s.Bind(i, Cp932ToUtf8(m.Text)); }, [](const TStmt&, int, TMessage&) {}},
    {"gaps", "TEXT NOT NULL", 1, "", true, [](TStmt& s, int i, const TMessage& m) { s.Bind(i, GapsJson(m.Gaps)); },
     [](const TStmt& s, int c, TMessage& m) { m.Gaps = GapsFromJson(s.Text(c)); }},
    {"chars", "INTEGER NOT NULL", 1, "", true, BindInt<&TMessage::Chars>, ReadInt<&TMessage::Chars>},
    {"erasures", "INTEGER NOT NULL", 1, "", true, BindInt<&TMessage::Erasures>, ReadInt<&TMessage::Erasures>},
    {"suspicious", "INTEGER NOT NULL", 1, "", true, BindInt<&TMessage::Suspicious>, ReadInt<&TMessage::Suspicious>},
    {"lost", "INTEGER NOT NULL", 1, "", true, BindInt<&TMessage::Lost>, ReadInt<&TMessage::Lost>},
    {"cer", "REAL NOT NULL", 1, "", true, BindReal<&TMessage::Cer>, ReadReal<&TMessage::Cer>},
    // Two receivers on one stereo input; stores from before had only the left.
    {"channel", "TEXT NOT NULL DEFAULT 'left'", 2, "'left'", false, BindText<&TMessage::Channel>,
     ReadText<&TMessage::Channel>},
};
constexpr int ColumnCount = static_cast<int>(std::size(Columns));

static_assert(std::all_of(std::begin(Columns), std::end(Columns),
                          [](const TColumn& c) { return c.Since <= StoreSchemaVersion; }));

// The column names for a SELECT on a store of schema `version`.
std::string Names(int64_t version = StoreSchemaVersion)
{
  std::string s;
  for (const TColumn& c : Columns) {
    if (!s.empty()) s += ", ";
    s += c.Since <= version ? std::string(c.Name) : std::string(c.Default) + " AS " + c.Name;
  }
  return s;
}

std::string Placeholders(int n)
{
  std::string p;
  for (int i = 0; i < n; ++i) p += i ? ", ?" : "?";
  return p;
}

// Binds every column from parameter `first` on.
void BindMessage(TStmt& s, int first, const TMessage& m)
{
  for (int i = 0; i < ColumnCount; ++i) Columns[i].Bind(s, first + i, m);
}

// Reads every column from result column `first` on.
TMessage ReadMessage(const TStmt& s, int first)
{
  TMessage m;
  for (int i = 0; i < ColumnCount; ++i) Columns[i].Read(s, first + i, m);
  return m;
}

// --- The schema --------------------------------------------------------------------------

std::string CreateSchema()
{
  std::string columns;
  for (const TColumn& c : Columns) columns += std::string(", ") + c.Name + " " + c.Declaration;
  return "CREATE TABLE messages (id INTEGER PRIMARY KEY" + columns +
         ",  matchable INTEGER NOT NULL,"  // copies of it within the window are repeats
         "  first_seen REAL NOT NULL, last_seen REAL NOT NULL,"
         "  copies INTEGER NOT NULL, best_copy INTEGER, seen INTEGER NOT NULL DEFAULT 0);"
         "CREATE TABLE copies (id INTEGER PRIMARY KEY,"
         "  message_id INTEGER NOT NULL REFERENCES messages(id), repeat INTEGER NOT NULL" +
         columns +
         ");"
         "CREATE INDEX messages_station ON messages(station, first_seen);"
         "CREATE INDEX messages_subject ON messages(subject, first_seen);"
         "CREATE INDEX messages_time ON messages(first_seen);"
         "CREATE INDEX messages_identity ON messages(ident, last_seen) WHERE matchable;"
         "CREATE INDEX copies_message ON copies(message_id);";
}

// What takes a store of schema `from` to the current one: a new store
// (schema 0) gets the whole schema, an older one the columns added since.
std::string Upgrade(int64_t from)
{
  std::string sql = from == 0 ? CreateSchema() : std::string();
  if (from > 0)
    for (const TColumn& c : Columns)
      if (c.Since > from)
        for (const char* table : {"messages", "copies"})
          sql += std::string("ALTER TABLE ") + table + " ADD COLUMN " + c.Name + " " + c.Declaration + ";";
  return sql + "PRAGMA application_id=" + std::to_string(ApplicationId) +
         "; PRAGMA user_version=" + std::to_string(StoreSchemaVersion) + ";";
}

// --- Opening ---------------------------------------------------------------------------

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
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
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
// (or empty), not newer, and (with `deep`) undamaged; `version` is its
// schema. Only reads; called inside a transaction, so that a store another
// program is bringing up to date is seen either before or after.
bool Inspect(sqlite3* db, const std::string& path, bool deep, int64_t& version, std::string& error)
{
  const std::string leftAlone = "; it was left as it is";
  int64_t appId = 0, objects = 0;
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
  if (deep) {
    TStmt check(db, "PRAGMA quick_check");
    const int rc = check.Ok() ? check.Step() : SQLITE_ERROR;
    const std::string result = rc == SQLITE_ROW ? check.Text(0) : sqlite3_errmsg(db);
    if (result != "ok") {
      error = path + " is damaged (" + result + ")" + leftAlone + "; move it aside to start a new store";
      return false;
    }
  }
  return true;
}

// Inspect in a read transaction of its own.
bool Check(sqlite3* db, const std::string& path, bool deep, int64_t& version, std::string& error)
{
  TTransaction tx(db);
  if (!tx.Begin(error, false)) {
    error = path + " cannot be read as a message store (" + error + "); it was left as it is";
    return false;
  }
  return Inspect(db, path, deep, version, error);
}

// Runs `attempt(error, busy)` until it succeeds, fails for another reason
// than a lock another connection holds, or OpenPatience has passed.
template <class F>
bool Retrying(F attempt, std::string& error)
{
  const auto start = std::chrono::steady_clock::now();
  double pause = 0.05;
  for (;;) {
    bool busy = false;
    error.clear();
    if (attempt(error, busy)) return true;
    if (!busy || std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > OpenPatience)
      return false;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    pause = std::min(2 * pause, 1.0);
  }
}

bool Failed(sqlite3* db, bool& busy)
{
  busy = IsBusy(sqlite3_extended_errcode(db));
  return false;
}

sqlite3* Connect(const std::string& name, int flags, std::string& error)
{
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = DbError(db, "cannot open " + name);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, BusyWaitMs);
  return db;
}

// `path` as a file: URI.
std::string UriPath(const std::string& path)
{
  std::string uri = "file:";
  for (const char c : fs::absolute(path).string()) {
    if (c == '%' || c == '?' || c == '#') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  return uri;
}

std::string NotWritable(const std::string& path)
{
  return path + " cannot be written (a read-only file, folder or file system): messages could not be stored";
}

bool FolderWritable(const std::string& path)
{
  const fs::path dir = fs::absolute(path).parent_path();
  return ::access(dir.c_str(), W_OK) == 0;
}

// A connection that never writes to the store. In write-ahead-log mode a
// reader needs the log and its index beside the store, which a folder it
// may not write cannot get; a store with no log there is not being written,
// and is read as a file that does not change.
sqlite3* ConnectToRead(const std::string& path, std::string& error)
{
  std::error_code ec;
  const bool unchanging = !FolderWritable(path) && !fs::exists(path + "-wal", ec);
  return unchanging ? Connect(UriPath(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, error)
                    : Connect(path, SQLITE_OPEN_READONLY, error);
}

void RemoveWithSideFiles(const std::string& path)
{
  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix, ec);
}

bool SyncFile(const std::string& path, int flags)
{
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Makes a new store at `path`, which must appear whole or not at all, even
// when another program makes one at the same time: the store is built
// beside it under a name of its own and linked into place only if `path` is
// still free (if not, the other program's store is used).
bool CreateStore(const std::string& path, std::string& error)
{
  std::error_code ec;
  const fs::path dir = fs::path(path).parent_path();
  if (!dir.empty()) fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir.string() + ": " + ec.message();
    return false;
  }
  static std::atomic<unsigned> serial{0};
  const std::string temp = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
  RemoveWithSideFiles(temp);
  const std::string failed = "cannot create the message store " + path;
  sqlite3* db = Connect(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!db && !FolderWritable(path)) error = NotWritable(path);
  bool ok = db != nullptr;
  if (ok) {
    ok = Exec(db, "BEGIN IMMEDIATE;" + Upgrade(0) + "COMMIT;", error, failed);
    TStmt wal(db, "PRAGMA journal_mode=WAL");
    if (ok && (!wal.Ok() || wal.Step() != SQLITE_ROW || wal.Text(0) != "wal")) {
      error = DbError(db, failed);
      ok = false;
    }
  }
  // Closing the only connection moves the log into the store and removes it.
  if (sqlite3_close(db) != SQLITE_OK && ok) {
    error = failed + ": the new store could not be closed";
    ok = false;
  }
  std::error_code gone;
  if (ok && fs::exists(temp + "-wal", gone)) ok = (error = failed + ": its log could not be written into it", false);
  if (ok && !SyncFile(temp, O_RDONLY)) ok = (error = failed + ": " + std::strerror(errno), false);
  if (ok && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    // A file system without hard links: renamed instead, which would replace
    // a store another program put in place between the look and the rename.
    if (!fs::exists(path, gone) && ::rename(temp.c_str(), path.c_str()) != 0)
      ok = (error = failed + ": " + std::strerror(errno), false);
  }
  RemoveWithSideFiles(temp);
  if (ok) SyncFile(dir.empty() ? "." : dir.string(), O_RDONLY | O_DIRECTORY);
  return ok;
}

// Configures a connection that writes and brings its store to the current
// schema, all in one write transaction that checks the store again, so
// that programs opening one store at once do the work once.
bool Prepare(sqlite3* db, const std::string& path, std::string& error)
{
  const bool wal = Retrying(
      [&](std::string& e, bool& busy) {
        TStmt mode(db, "PRAGMA journal_mode");
        if (mode.Ok() && mode.Step() == SQLITE_ROW && mode.Text(0) == "wal") return true;
        TStmt to(db, "PRAGMA journal_mode=WAL");
        if (to.Ok() && to.Step() == SQLITE_ROW && to.Text(0) == "wal") return true;
        e = DbError(db, "cannot switch " + path + " to write-ahead logging");
        return Failed(db, busy);
      },
      error);
  if (!wal || !Exec(db, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", error, "cannot configure " + path))
    return false;
  return Retrying(
      [&](std::string& e, bool& busy) {
        TTransaction tx(db);
        int64_t version = 0;
        if (!tx.Begin(e)) return Failed(db, busy);
        if (!Inspect(db, path, false, version, e)) return false;
        if (version == StoreSchemaVersion) return true;
        const std::string what = "cannot bring " + path + " to store schema " + std::to_string(StoreSchemaVersion);
        if (!Exec(db, Upgrade(version), e, what) || !tx.Commit(e))
          return Failed(db, busy);
        return true;
      },
      error);
}

}  // namespace

// The stored message a copy repeats, with its best copy.
struct TMessageStore::TRepeated {
  TMessage Message;
  int64_t BestCopy = 0;
};

std::unique_ptr<TMessageStore> TMessageStore::Open(const std::string& path, TMode mode, std::string& error)
{
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) {
    if (mode != TMode::Create) {
      error = "no message store at " + path;
      return nullptr;
    }
    if (!CreateStore(path, error)) return nullptr;
  } else if (ec) {
    error = "cannot reach " + path + ": " + ec.message();  // e.g. a folder on the way that may not be searched
    return nullptr;
  } else if (status.type() == fs::file_type::directory) {
    error = path + " is a folder, not a message store";
    return nullptr;
  }
  if (!LooksLikeSqlite(path, error)) return nullptr;

  // Refusals are found through a connection that never writes, not even to
  // recover or checkpoint the store's log.
  int64_t version = 0;
  sqlite3* reader = ConnectToRead(path, error);
  if (!reader) return nullptr;
  if (!Check(reader, path, true, version, error)) {
    sqlite3_close(reader);
    return nullptr;
  }
  if (mode == TMode::Read) return std::unique_ptr<TMessageStore>(new TMessageStore(reader, version, true));
  sqlite3_close(reader);

  sqlite3* db = Connect(path, SQLITE_OPEN_READWRITE, error);
  if (!db) return nullptr;
  // SQLite quietly opens a file it may not write read-only; a store opened
  // to be written must say at once that it cannot be.
  const bool readOnly = sqlite3_db_readonly(db, "main") == 1;
  if (readOnly || !Prepare(db, path, error)) {
    if (readOnly || (sqlite3_extended_errcode(db) & 0xFF) == SQLITE_CANTOPEN || !FolderWritable(path))
      error = NotWritable(path) + (readOnly ? "" : " (" + error + ")");
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<TMessageStore>(new TMessageStore(db, StoreSchemaVersion, false));
}

std::unique_ptr<TMessageStore> TMessageStore::InMemory(std::string& error)
{
  sqlite3* db = Connect(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!db) return nullptr;
  if (!Exec(db, Upgrade(0) + "PRAGMA foreign_keys=ON;", error, "cannot make a store in memory")) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<TMessageStore>(new TMessageStore(db, StoreSchemaVersion, false));
}

TMessageStore::~TMessageStore() { sqlite3_close(Db); }

void TMessageStore::SetBusyWait(double seconds)
{
  sqlite3_busy_timeout(Db, static_cast<int>(std::clamp(seconds, 0.0, 86400.0) * 1000.0));
}

// --- Storing -------------------------------------------------------------------------------

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error)
{
  bool busy = false;
  return Add(copy, shown, error, busy);
}

bool TMessageStore::Add(const TMessage& copy, TMessage& shown, std::string& error, bool& busy)
{
  busy = false;
  if (ReadOnly) {
    error = "the message store was opened for reading only";
    return false;
  }
  TTransaction tx(Db);
  TMessage result;
  // The result code is read before the transaction rolls back.
  const bool ok = tx.Begin(error) && AddInTransaction(copy, result, error) && tx.Commit(error);
  if (!ok) return Failed(Db, busy);
  shown = std::move(result);
  return true;
}

bool TMessageStore::AddInTransaction(const TMessage& copy, TMessage& shown, std::string& error)
{
  std::optional<TRepeated> stored;
  if (!FindRepeat(copy, stored, error)) return false;
  return stored ? AddRepeat(copy, *stored, shown, error) : AddFirst(copy, shown, error);
}

bool TMessageStore::FindRepeat(const TMessage& copy, std::optional<TRepeated>& found, std::string& error)
{
  if (!CanSuppress(copy)) return true;
  TStmt s(Db, "SELECT id, copies, best_copy, " + Names() +
                  " FROM messages WHERE matchable AND ident = ? AND last_seen >= ? AND first_seen <= ?"
                  " ORDER BY last_seen DESC LIMIT 1");
  if (!s.Ok()) return error = DbError(Db, "cannot look up repeats"), false;
  s.Bind(1, copy.Id);
  s.Bind(2, copy.Start - Window);
  s.Bind(3, copy.Start + Window);
  const int rc = s.Step();
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) return error = DbError(Db, "cannot look up repeats"), false;
  found.emplace();
  found->Message = ReadMessage(s, 3);
  found->Message.StoreId = s.Int(0);
  found->Message.Copies = static_cast<int>(s.Int(1));
  found->BestCopy = s.Int(2);
  return true;
}

int64_t TMessageStore::AddCopy(int64_t messageId, bool repeat, const TMessage& copy, std::string& error)
{
  TStmt s(Db, "INSERT INTO copies (message_id, repeat, " + Names() + ") VALUES (" + Placeholders(ColumnCount + 2) +
                  ")");
  if (!s.Ok()) return error = DbError(Db, "cannot store the copy"), 0;
  s.Bind(1, messageId);
  s.Bind(2, int64_t{repeat});
  BindMessage(s, 3, copy);
  if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot store the copy"), 0;
  return sqlite3_last_insert_rowid(Db);
}

bool TMessageStore::AddFirst(const TMessage& copy, TMessage& shown, std::string& error)
{
  TStmt s(Db, "INSERT INTO messages (" + Names() + ", matchable, first_seen, last_seen, copies) VALUES (" +
                  Placeholders(ColumnCount + 4) + ")");
  if (!s.Ok()) return error = DbError(Db, "cannot store the message"), false;
  BindMessage(s, 1, copy);
  s.Bind(ColumnCount + 1, int64_t{CanSuppress(copy)});
  s.Bind(ColumnCount + 2, copy.Start);
  s.Bind(ColumnCount + 3, copy.Start);
  s.Bind(ColumnCount + 4, int64_t{1});
  if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot store the message"), false;
  shown = copy;
  shown.Repeat = false;
  shown.Copies = 1;
  shown.StoreId = sqlite3_last_insert_rowid(Db);

  const int64_t copyId = AddCopy(shown.StoreId, false, copy, error);
  if (copyId == 0) return false;
  TStmt best(Db, "UPDATE messages SET best_copy = ? WHERE id = ?");
  if (!best.Ok()) return error = DbError(Db, "cannot update the message"), false;
  best.Bind(1, copyId);
  best.Bind(2, shown.StoreId);
  if (best.Step() != SQLITE_DONE) return error = DbError(Db, "cannot update the message"), false;
  return true;
}

bool TMessageStore::AddRepeat(const TMessage& copy, const TRepeated& stored, TMessage& shown, std::string& error)
{
  const int64_t copyId = AddCopy(stored.Message.StoreId, true, copy, error);
  if (copyId == 0) return false;

  // Whether the copy replaces the best copy so far. A best copy that is no
  // longer there (the store was edited) is replaced; one that cannot be
  // read is an error.
  bool better = true;
  if (stored.BestCopy != 0) {
    TStmt s(Db, "SELECT " + Names() + " FROM copies WHERE id = ?");
    if (!s.Ok()) return error = DbError(Db, "cannot read the best copy"), false;
    s.Bind(1, stored.BestCopy);
    const int rc = s.Step();
    if (rc == SQLITE_ROW)
      better = Better(copy, ReadMessage(s, 0));
    else if (rc != SQLITE_DONE)
      return error = DbError(Db, "cannot read the best copy"), false;
  }

  // The message keeps the times of its first reception; its text and
  // quality become the merged ones.
  const TMessage merged = Merge(stored.Message, copy);
  std::string sql = "UPDATE messages SET ";
  for (const TColumn& c : Columns)
    if (c.Merged) sql += std::string(c.Name) + " = ?, ";
  sql += "copies = copies + 1, last_seen = max(last_seen, ?), best_copy = ? WHERE id = ?";
  TStmt s(Db, sql);
  if (!s.Ok()) return error = DbError(Db, "cannot update the message"), false;
  int i = 1;
  for (const TColumn& c : Columns)
    if (c.Merged) c.Bind(s, i++, merged);
  s.Bind(i++, copy.Start);
  s.Bind(i++, better ? copyId : stored.BestCopy);
  s.Bind(i++, stored.Message.StoreId);
  if (s.Step() != SQLITE_DONE) return error = DbError(Db, "cannot update the message"), false;
  shown = merged;
  return true;
}

// --- Reading -------------------------------------------------------------------------------

bool TMessageStore::ReadMessages(const std::string& where, const std::function<void(sqlite3_stmt*)>& bind,
                                 bool ofCopies, std::vector<TMessage>& out, std::string& error)
{
  if (Version == 0) return true;  // an empty file: no message yet
  const std::string sql = ofCopies ? "SELECT message_id, repeat, " + Names(Version) + " FROM copies " + where
                                   : "SELECT id, copies, " + Names(Version) + " FROM messages " + where;
  TStmt s(Db, sql);
  if (!s.Ok()) return error = DbError(Db, "cannot read the store"), false;
  bind(*s);
  for (;;) {
    const int rc = s.Step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return error = DbError(Db, "cannot read the store"), false;
    TMessage m = ReadMessage(s, 2);
    m.StoreId = s.Int(0);
    if (ofCopies) {
      m.Repeat = s.Int(1) != 0;
    } else {
      m.Copies = static_cast<int>(s.Int(1));
      m.Repeat = false;
    }
    out.push_back(std::move(m));
  }
}

bool TMessageStore::List(const TStoreFilter& f, std::vector<TMessage>& out, std::string& error)
{
  std::string where = "WHERE 1";
  if (!f.Stations.empty()) where += " AND instr(?1, station) > 0";
  if (!f.Subjects.empty()) where += " AND instr(?2, subject) > 0";
  if (f.Since) where += " AND first_seen >= ?3";
  if (f.Until) where += " AND first_seen <= ?4";
  if (!f.Grep.empty()) where += " AND text_utf8 LIKE ?5 ESCAPE '\\'";
  if (f.NewOnly) where += " AND NOT seen";
  where += " ORDER BY first_seen, id";
  std::string pattern = "%";
  for (char c : f.Grep) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += '%';
  return ReadMessages(
      where,
      [&](sqlite3_stmt* s) {
        auto text = [&](int i, const std::string& v) {
          sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        };
        if (!f.Stations.empty()) text(1, f.Stations);
        if (!f.Subjects.empty()) text(2, f.Subjects);
        if (f.Since) sqlite3_bind_double(s, 3, *f.Since);
        if (f.Until) sqlite3_bind_double(s, 4, *f.Until);
        if (!f.Grep.empty()) text(5, pattern);
      },
      false, out, error);
}

bool TMessageStore::Find(std::string_view id, std::vector<TMessage>& out, std::string& error)
{
  return ReadMessages(
      "WHERE ident = ? ORDER BY first_seen DESC, id DESC",
      [&](sqlite3_stmt* s) { sqlite3_bind_text(s, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT); },
      false, out, error);
}

bool TMessageStore::Copies(int64_t storeId, std::vector<TMessage>& out, std::string& error)
{
  return ReadMessages(
      "WHERE message_id = ? ORDER BY id", [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, storeId); }, true, out,
      error);
}

bool TMessageStore::BestCopy(int64_t storeId, TMessage& out, std::string& error)
{
  std::vector<TMessage> found;
  if (!ReadMessages("WHERE id = (SELECT best_copy FROM messages WHERE id = ?)",
                    [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, storeId); }, true, found, error))
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
