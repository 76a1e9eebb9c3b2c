// The message store in an SQLite file: WAL mode, BEGIN IMMEDIATE for every
// write, a busy wait and retries for locks other programs hold, the schema
// number in the file's header, and a new store built beside its place and
// linked in whole.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <type_traits>
#include <utility>

#include "messages/store_db.h"

namespace brontel::msg::db {

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
class TStmt final : public TRow {
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

  std::string Text(int c) const override
  {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(S, c));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(S, c))) : std::string();
  }
  int64_t Int(int c) const override { return sqlite3_column_int64(S, c); }
  double Real(int c) const override { return sqlite3_column_double(S, c); }
  bool Null(int c) const override { return sqlite3_column_type(S, c) == SQLITE_NULL; }

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

// A connection of the store's.
class TSqliteDb final : public TDatabase {
public:
  explicit TSqliteDb(sqlite3* db) : Db(db) {}
  ~TSqliteDb() override { sqlite3_close(Db); }
  TSqliteDb(const TSqliteDb&) = delete;
  TSqliteDb& operator=(const TSqliteDb&) = delete;

  std::string Type(TType t) const override
  {
    switch (t) {
      case TType::Real: return "REAL";
      case TType::Text: return "TEXT";
      case TType::Blob: return "BLOB";
      case TType::Key: return "INTEGER PRIMARY KEY";
      case TType::Int:
      case TType::Flag:
      case TType::Reference: break;
    }
    return "INTEGER";
  }
  std::string Flag(bool value) const override { return value ? "1" : "0"; }
  std::string Greatest(const std::string& a, const std::string& b) const override
  {
    return "max(" + a + ", " + b + ")";
  }
  // SQLite's LIKE takes ASCII letters in any case.
  std::string LikeAnyCase(const std::string& column) const override { return column + " LIKE ? ESCAPE '\\'"; }

  bool Run(const std::string& sql, const TParams& params, const TRowFn& row, std::string& error) override
  {
    TStmt s(Db, sql);
    if (!s.Ok()) return Fail(error);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i) + 1;
      std::visit(
          [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>)
              s.BindNull(at);
            else if constexpr (std::is_same_v<T, TBlob>)
              s.BindBlob(at, v.Bytes);
            else
              s.Bind(at, v);
          },
          params[i]);
    }
    for (;;) {
      const int rc = s.Step();
      if (rc == SQLITE_DONE) return true;
      if (rc != SQLITE_ROW) return Fail(error);
      if (row) row(s);
    }
  }
  bool Begin(bool write, std::string& error) override
  {
    return Exec(Db, write ? "BEGIN IMMEDIATE" : "BEGIN", error, "cannot start a transaction") || Failed();
  }
  // The write transaction holds the whole store.
  bool LockIdentity(const std::string&, std::string&) override { return true; }
  bool Commit(std::string& error) override { return Exec(Db, "COMMIT", error, "cannot commit") || Failed(); }
  void Rollback() override { sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr); }
  bool Transient() const override { return IsBusy(LastError); }
  void SetBusyWait(double seconds) override
  {
    sqlite3_busy_timeout(Db, static_cast<int>(std::clamp(seconds, 0.0, 86400.0) * 1000.0));
  }
  bool Remote() const override { return false; }

private:
  bool Fail(std::string& error)
  {
    error = sqlite3_errmsg(Db);
    return Failed();
  }
  bool Failed()
  {
    LastError = sqlite3_extended_errcode(Db);
    return false;
  }
  sqlite3* Db;
  int LastError = SQLITE_OK;
};

// The SQLite spelling of the schema (for stores whose connection is not yet wrapped).
const TSqliteDb Dialect{nullptr};

// What takes a store of schema `from` to the current one, its number included.
std::string Upgrade(int64_t from)
{
  return UpgradeSql(Dialect, from) + "PRAGMA application_id=" + std::to_string(ApplicationId) +
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

// How an attempt at a connection's set-up ended.
enum class TAttempt { Done, Busy, Failed };

// Runs `attempt(error)` until it is done, fails for another reason than a
// lock another connection holds, or OpenPatience has passed.
template <class F>
bool Retrying(F attempt, std::string& error)
{
  const auto start = std::chrono::steady_clock::now();
  double pause = 0.05;
  for (;;) {
    error.clear();
    const TAttempt outcome = attempt(error);
    if (outcome == TAttempt::Done) return true;
    if (outcome == TAttempt::Failed ||
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > OpenPatience)
      return false;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    pause = std::min(2 * pause, 1.0);
  }
}

TAttempt Failed(sqlite3* db) { return IsBusy(sqlite3_extended_errcode(db)) ? TAttempt::Busy : TAttempt::Failed; }

sqlite3* Connect(const std::string& name, int flags, std::string& error)
{
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = DbError(db, "cannot open " + name);
    sqlite3_close(db);
    return nullptr;
  }
  // Errors are read with sqlite3_extended_errcode, which gives the extended codes without asking.
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
      [&](std::string& e) {
        TStmt mode(db, "PRAGMA journal_mode");
        if (mode.Ok() && mode.Step() == SQLITE_ROW && mode.Text(0) == "wal") return TAttempt::Done;
        TStmt to(db, "PRAGMA journal_mode=WAL");
        if (to.Ok() && to.Step() == SQLITE_ROW && to.Text(0) == "wal") return TAttempt::Done;
        e = DbError(db, "cannot switch " + path + " to write-ahead logging");
        return Failed(db);
      },
      error);
  if (!wal || !Exec(db, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", error, "cannot configure " + path))
    return false;
  return Retrying(
      [&](std::string& e) {
        TTransaction tx(db);
        int64_t version = 0;
        if (!tx.Begin(e)) return Failed(db);
        if (!Inspect(db, path, false, version, e)) return TAttempt::Failed;
        if (version == StoreSchemaVersion) return TAttempt::Done;
        const std::string what = "cannot bring " + path + " to store schema " + std::to_string(StoreSchemaVersion);
        if (!Exec(db, Upgrade(version), e, what) || !tx.Commit(e)) return Failed(db);
        return TAttempt::Done;
      },
      error);
}

}  // namespace

std::unique_ptr<TDatabase> OpenSqlite(const std::string& path, TMessageStore::TMode mode, int64_t& version,
                                      std::string& error)
{
  using TMode = TMessageStore::TMode;
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
  version = 0;
  sqlite3* reader = ConnectToRead(path, error);
  if (!reader) return nullptr;
  if (!Check(reader, path, true, version, error)) {
    sqlite3_close(reader);
    return nullptr;
  }
  if (mode == TMode::Read) return std::make_unique<TSqliteDb>(reader);
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
  version = StoreSchemaVersion;
  return std::make_unique<TSqliteDb>(db);
}

std::unique_ptr<TDatabase> SqliteInMemory(std::string& error)
{
  sqlite3* db = Connect(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!db) return nullptr;
  if (!Exec(db, Upgrade(0) + "PRAGMA foreign_keys=ON;", error, "cannot make a store in memory")) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::make_unique<TSqliteDb>(db);
}

}  // namespace brontel::msg::db
