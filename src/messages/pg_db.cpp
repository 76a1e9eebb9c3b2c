// The message store in a PostgreSQL database, through libpq: the schema
// number in a table of its own, the tables made or brought up to date in one
// transaction under an advisory lock, copies of one identity stored one
// writer at a time under an advisory lock of that identity, and a lost
// connection made again when the store is next written to.
#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "messages/store_db.h"

namespace brontel::msg::db {

namespace {

// Advisory lock keys: the first number says whose lock it is.
constexpr int32_t SchemaLockKey = 0x42524D53;    // "BRMS": making or upgrading the tables
constexpr int32_t IdentityLockKey = 0x42524D49;  // "BRMI": storing copies of one identity
constexpr int DefaultLockWaitMs = 5000;          // how long a statement waits for another writer's lock
constexpr int UpgradeLockWaitMs = 60000;         // how long opening waits for another program's upgrade
constexpr unsigned ByteaType = 17;               // the type number of bytea

// A 32-bit FNV-1a hash of an identity, the second key of its advisory lock
// (two identities sharing one only take turns).
int32_t IdentityHash(std::string_view identity)
{
  uint32_t h = 2166136261u;
  for (const char c : identity) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return static_cast<int32_t>(h);
}

std::string Shown(const std::string& uri) { return ShownLocation(uri); }

}  // namespace
}  // namespace brontel::msg::db

namespace brontel::msg {

std::string ShownLocation(const std::string& uri)
{
  if (!IsDatabaseUri(uri)) return uri;
  std::string s = uri;
  const std::size_t scheme = s.find("://");
  if (scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(s.find_first_of("/?", start), s.size());
    const std::size_t at = s.rfind('@', end);
    if (at != std::string::npos && at >= start) {
      const std::size_t colon = s.find(':', start);
      if (colon < at) s.replace(colon + 1, at - colon - 1, "***");
    }
  }
  for (std::size_t p = s.find("password="); p != std::string::npos; p = s.find("password=", p + 1)) {
    const std::size_t from = p + 9;
    s.replace(from, std::min(s.find('&', from), s.size()) - from, "***");
  }
  return s;
}

}  // namespace brontel::msg

namespace brontel::msg::db {

namespace {

std::string Trimmed(const char* text)
{
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

// Failures that pass by themselves: the connection (08), a transaction that
// lost a race or a deadlock, resources such as connections or disk (53), a
// lock held too long, a server shutting down or starting.
bool TransientState(const char* state)
{
  if (!state) return false;
  const std::string_view s(state);
  return s.starts_with("08") || s.starts_with("53") || s == "40001" || s == "40P01" || s == "55P03" ||
         s == "57P01" || s == "57P02" || s == "57P03";
}

std::string NumberText(double v)
{
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) return "NaN";
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  return std::string(buf, end);
}

// A result, cleared on every path.
class TResult {
public:
  explicit TResult(PGresult* r) : R(r) {}
  ~TResult() { PQclear(R); }
  TResult(const TResult&) = delete;
  TResult& operator=(const TResult&) = delete;
  PGresult* operator*() const { return R; }
  bool Ok() const
  {
    const ExecStatusType s = PQresultStatus(R);
    return R && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
  }

private:
  PGresult* R;
};

class TPgRow final : public TRow {
public:
  TPgRow(PGresult* r, int row) : R(r), Row(row) {}
  bool Null(int c) const override { return PQgetisnull(R, Row, c) != 0; }
  int64_t Int(int c) const override
  {
    const char* v = PQgetvalue(R, Row, c);
    if (*v == 't') return 1;  // a boolean
    return std::strtoll(v, nullptr, 10);
  }
  double Real(int c) const override { return std::strtod(PQgetvalue(R, Row, c), nullptr); }
  std::string Text(int c) const override
  {
    const char* v = PQgetvalue(R, Row, c);
    const auto n = static_cast<std::size_t>(PQgetlength(R, Row, c));
    if (PQftype(R, c) != ByteaType) return std::string(v, n);
    // bytea in its hex form: \x then two digits a byte.
    std::string bytes;
    if (n < 2 || v[0] != '\\' || v[1] != 'x') return bytes;
    bytes.reserve((n - 2) / 2);
    for (std::size_t i = 2; i + 1 < n; i += 2) {
      unsigned char b = 0;
      if (std::from_chars(v + i, v + i + 2, b, 16).ptr != v + i + 2) break;
      bytes.push_back(static_cast<char>(b));
    }
    return bytes;
  }

private:
  PGresult* R;
  int Row;
};

class TPgDb final : public TDatabase {
public:
  TPgDb(std::string uri, bool readOnly) : Uri(std::move(uri)), ReadOnly(readOnly) {}
  ~TPgDb() override { PQfinish(Conn); }
  TPgDb(const TPgDb&) = delete;
  TPgDb& operator=(const TPgDb&) = delete;

  // Connects, and checks the store: a writer makes or upgrades its tables,
  // a reader only reads its schema number (`Version`).
  bool Connect(std::string& error);
  int64_t Version = 0;

  std::string Type(TType t) const override
  {
    switch (t) {
      case TType::Int: return "INTEGER";
      case TType::Real: return "DOUBLE PRECISION";
      case TType::Text: return "TEXT";
      case TType::Blob: return "BYTEA";
      case TType::Flag: return "BOOLEAN";
      case TType::Key: return "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
      case TType::Reference: return "BIGINT";
    }
    return "TEXT";
  }
  std::string Flag(bool value) const override { return value ? "TRUE" : "FALSE"; }
  std::string Greatest(const std::string& a, const std::string& b) const override
  {
    return "GREATEST(" + a + ", " + b + ")";
  }
  // LIKE minds case: the ASCII letters of the text are compared in upper case.
  std::string LikeAnyCase(const std::string& column) const override
  {
    return "translate(" + column +
           ", 'abcdefghijklmnopqrstuvwxyz', 'ABCDEFGHIJKLMNOPQRSTUVWXYZ') LIKE ? ESCAPE '\\'";
  }

  bool Run(const std::string& sql, const TParams& params, const TRowFn& row, std::string& error) override;
  bool Begin(bool write, std::string& error) override;
  bool LockIdentity(const std::string& identity, std::string& error) override
  {
    return Run("SELECT pg_advisory_xact_lock(?, ?)", {int64_t{IdentityLockKey}, int64_t{IdentityHash(identity)}},
               nullptr, error);
  }
  bool Commit(std::string& error) override { return Exec("COMMIT", error); }
  void Rollback() override
  {
    if (Conn && PQstatus(Conn) == CONNECTION_OK && PQtransactionStatus(Conn) != PQTRANS_IDLE)
      PQclear(PQexec(Conn, "ROLLBACK"));
  }
  bool Transient() const override { return LastTransient; }
  void SetBusyWait(double seconds) override
  {
    LockWaitMs = static_cast<int>(std::clamp(seconds, 0.001, 86400.0) * 1000.0);
    std::string ignored;
    if (Conn && PQstatus(Conn) == CONNECTION_OK) Exec("SET lock_timeout = " + std::to_string(LockWaitMs), ignored);
  }
  bool Remote() const override { return true; }

private:
  // Runs statements without parameters (several, separated by ';').
  bool Exec(const std::string& sql, std::string& error);
  bool Failed(PGresult* result, std::string& error);
  bool CheckSchema(std::string& error);

  const std::string Uri;
  const bool ReadOnly;
  PGconn* Conn = nullptr;
  bool LastTransient = false;
  int LockWaitMs = DefaultLockWaitMs;
};

bool TPgDb::Failed(PGresult* result, std::string& error)
{
  error = Trimmed(result && PQresultErrorMessage(result)[0] ? PQresultErrorMessage(result) : PQerrorMessage(Conn));
  LastTransient = PQstatus(Conn) != CONNECTION_OK ||
                  TransientState(result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr);
  return false;
}

bool TPgDb::Exec(const std::string& sql, std::string& error)
{
  if (!Conn) return LastTransient = true, error = "not connected", false;
  TResult r(PQexec(Conn, sql.c_str()));
  return r.Ok() || Failed(*r, error);
}

bool TPgDb::Run(const std::string& sql, const TParams& params, const TRowFn& row, std::string& error)
{
  if (!Conn) return LastTransient = true, error = "not connected", false;
  // '?' becomes $1, $2, ... (the statements have no '?' of their own).
  std::string text;
  int n = 0;
  for (const char c : sql) {
    if (c != '?') {
      text += c;
      continue;
    }
    text += '$';
    text += std::to_string(++n);
  }
  std::vector<std::string> values(params.size());
  std::vector<const char*> pointers(params.size());
  std::vector<int> lengths(params.size()), formats(params.size());
  std::vector<Oid> types(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, int64_t>) values[i] = std::to_string(v);
          if constexpr (std::is_same_v<T, double>) values[i] = NumberText(v);
          if constexpr (std::is_same_v<T, std::string>) values[i] = v;
          if constexpr (std::is_same_v<T, TBlob>) {
            values[i] = v.Bytes;
            formats[i] = 1;  // the bytes as they are
            types[i] = ByteaType;
          }
          pointers[i] = std::is_same_v<T, std::monostate> ? nullptr : values[i].data();
        },
        params[i]);
    lengths[i] = static_cast<int>(values[i].size());
  }
  TResult r(PQexecParams(Conn, text.c_str(), static_cast<int>(params.size()), types.data(), pointers.data(),
                         lengths.data(), formats.data(), 0));
  if (!r.Ok()) return Failed(*r, error);
  if (row)
    for (int i = 0, rows = PQntuples(*r); i < rows; ++i) row(TPgRow(*r, i));
  return true;
}

bool TPgDb::Begin(bool write, std::string& error)
{
  // A write transaction reads what others committed before each statement,
  // so that a writer that waited for an identity's lock sees the message
  // the one before it stored; a read transaction sees one state throughout.
  const char* begin = write ? "BEGIN ISOLATION LEVEL READ COMMITTED" : "BEGIN ISOLATION LEVEL REPEATABLE READ";
  if ((!Conn || PQstatus(Conn) != CONNECTION_OK) && !Connect(error)) return false;
  if (Exec(begin, error)) return true;
  // A connection the server has closed since its last use (a restart, an
  // idle timeout) is found out only now: made once more at once.
  if (PQstatus(Conn) == CONNECTION_OK || !Connect(error)) return false;
  return Exec(begin, error);
}

bool TPgDb::Connect(std::string& error)
{
  PQfinish(std::exchange(Conn, nullptr));
  // The URI's own settings come last and win.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "dbname", nullptr};
  const char* values[] = {"10", "brontel", "30", "10", "3", Uri.c_str(), nullptr};
  Conn = PQconnectdbParams(keys, values, 1);
  if (PQstatus(Conn) != CONNECTION_OK) {
    const std::string why = Trimmed(PQerrorMessage(Conn));
    error = "cannot reach the message store at " + Shown(Uri) + ": " + why;
    // Not answering, or answering that it cannot take connections yet: may
    // pass. A server that answers and refuses (who we are, a database that
    // does not exist) will go on refusing.
    const PGPing ping = PQpingParams(keys, values, 1);
    LastTransient = ping == PQPING_NO_RESPONSE || ping == PQPING_REJECT ||
                    why.find("too many") != std::string::npos;
    PQfinish(std::exchange(Conn, nullptr));
    return false;
  }
  if (PQsetClientEncoding(Conn, "UTF8") != 0 ||
      !Exec("SET bytea_output = 'hex'; SET extra_float_digits = 3; SET lock_timeout = " +
                std::to_string(LockWaitMs) + (ReadOnly ? "; SET default_transaction_read_only = on" : ""),
            error)) {
    error = "cannot set up the connection to " + Shown(Uri) + ": " + error;
    PQfinish(std::exchange(Conn, nullptr));
    return false;
  }
  if (!CheckSchema(error)) {
    PQfinish(std::exchange(Conn, nullptr));
    return false;
  }
  return true;
}

// Whether the database holds a message store this program can use (ours or
// none yet, not newer), and for a writer its tables made or brought up to
// date: all in one transaction under the schema lock, so that programs
// opening one database at once do the work once.
bool TPgDb::CheckSchema(std::string& error)
{
  const std::string where = "the message store at " + Shown(Uri);
  const std::string leftAlone = "; it was left as it is";
  auto fail = [&](const std::string& what) {
    Rollback();
    error = what;
    return false;
  };
  std::string e;
  if (!Exec(ReadOnly ? "BEGIN ISOLATION LEVEL REPEATABLE READ"
                     : "BEGIN; SET LOCAL lock_timeout = " + std::to_string(UpgradeLockWaitMs),
            e))
    return fail("cannot read " + where + ": " + e);
  if (!ReadOnly && !Run("SELECT pg_advisory_xact_lock(?, 0)", {int64_t{SchemaLockKey}}, nullptr, e))
    return fail("cannot lock " + where + " to check its tables: " + e);
  bool ours = false, theirs = false;
  if (!Run("SELECT to_regclass('brontel_schema') IS NOT NULL,"
           " to_regclass('messages') IS NOT NULL OR to_regclass('copies') IS NOT NULL",
           {}, [&](const TRow& r) { ours = r.Int(0) != 0, theirs = r.Int(1) != 0; }, e))
    return fail("cannot read " + where + ": " + e);
  Version = 0;
  if (ours) {
    if (!Run("SELECT max(version) FROM brontel_schema", {}, [&](const TRow& r) { Version = r.Int(0); }, e))
      return fail("cannot read " + where + ": " + e);
  } else if (theirs) {
    LastTransient = false;
    return fail(Shown(Uri) + " holds tables named messages or copies of another program, not a message store" +
                leftAlone);
  }
  if (Version > StoreSchemaVersion) {
    LastTransient = false;
    return fail(Shown(Uri) + " was written by a newer Brontel (store schema " + std::to_string(Version) +
                ", this program knows up to " + std::to_string(StoreSchemaVersion) + ")" + leftAlone);
  }
  if (ReadOnly || Version == StoreSchemaVersion) {
    Rollback();
    return true;
  }
  const std::string number = std::to_string(StoreSchemaVersion);
  const std::string record = Version == 0 ? "CREATE TABLE brontel_schema (version INTEGER NOT NULL);"
                                            "INSERT INTO brontel_schema VALUES (" + number + ");"
                                          : "UPDATE brontel_schema SET version = " + number + ";";
  if (!Exec(UpgradeSql(*this, Version) + record, e) || !Exec("COMMIT", e))
    return fail("cannot bring " + where + " to store schema " + number + ": " + e);
  Version = StoreSchemaVersion;
  return true;
}

}  // namespace

std::unique_ptr<TDatabase> OpenPostgres(const std::string& uri, TMessageStore::TMode mode, bool patient,
                                        int64_t& version, std::string& error)
{
  auto db = std::make_unique<TPgDb>(uri, mode == TMessageStore::TMode::Read);
  if (db->Connect(error)) {
    version = db->Version;
    return db;
  }
  if (!patient || !db->Transient()) return nullptr;
  version = StoreSchemaVersion;  // checked and brought to it when connected
  return db;
}

}  // namespace brontel::msg::db
