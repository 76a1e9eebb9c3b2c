#include "messages/spool.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <utility>

#include "messages/store.h"

namespace brontel::msg {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int SpoolApplicationId = 0x4252534C;  // "BRSL" in the database header
constexpr int SpoolVersion = 1;
constexpr int SpoolBusyWaitMs = 5000;  // how long a statement waits for another program's lock

std::string Why(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

bool Exec(sqlite3* db, const char* sql, std::string& error)
{
  char* msg = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = msg ? msg : Why(db);
  sqlite3_free(msg);
  return false;
}

// One prepared statement, finalised on every path.
class TStatement {
public:
  TStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &S, nullptr); }
  ~TStatement() { sqlite3_finalize(S); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  sqlite3_stmt* operator*() const { return S; }
  bool Ok() const { return S != nullptr; }
  void Text(int i, const std::string& s) { sqlite3_bind_text(S, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
  void Blob(int i, const std::string& s) { sqlite3_bind_blob(S, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
  std::string Column(int c) const
  {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(S, c));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(S, c))) : std::string();
  }

private:
  sqlite3_stmt* S = nullptr;
};

int PragmaValue(sqlite3* db, const char* pragma)
{
  TStatement s(db, pragma);
  return s.Ok() && sqlite3_step(*s) == SQLITE_ROW ? sqlite3_column_int(*s, 0) : -1;
}

json Optional(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

std::optional<double> OptionalOf(const json& j) { return j.is_null() ? std::nullopt : std::optional(j.get<double>()); }

}  // namespace

std::string SpoolFields(const TMessage& m)
{
  json gaps = json::array();
  for (const TGap& g : m.Gaps) gaps.push_back({g.Offset, g.Lost, g.Break});
  const json j = {{"id", m.Id},
                  {"has_header", m.HasHeader},
                  {"header_ok", m.HeaderOk},
                  {"trailer", m.Trailer},
                  {"station", static_cast<int>(static_cast<unsigned char>(m.Station))},
                  {"subject", static_cast<int>(static_cast<unsigned char>(m.Subject))},
                  {"serial", m.Serial},
                  {"service", m.Service == TService::Japanese ? "japanese" : "english"},
                  {"decoder", m.Decoder},
                  {"channel", m.Channel},
                  {"receiver", m.Receiver},
                  {"frequency", Optional(m.Frequency)},
                  {"start", m.Start},
                  {"end", m.End},
                  {"offset", Optional(m.Offset)},
                  {"gaps", gaps},
                  {"confidence", m.Confidence},
                  {"chars", m.Chars},
                  {"erasures", m.Erasures},
                  {"suspicious", m.Suspicious},
                  {"lost", m.Lost},
                  {"cer", m.Cer}};
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool ReadSpoolFields(const std::string& text, TMessage& m)
{
  try {
    const json j = json::parse(text);
    TMessage r;
    r.Id = j.at("id").get<std::string>();
    r.HasHeader = j.at("has_header").get<bool>();
    r.HeaderOk = j.at("header_ok").get<bool>();
    r.Trailer = j.at("trailer").get<bool>();
    r.Station = static_cast<char>(j.at("station").get<int>());
    r.Subject = static_cast<char>(j.at("subject").get<int>());
    r.Serial = j.at("serial").get<int>();
    r.Service = j.at("service").get<std::string>() == "japanese" ? TService::Japanese : TService::English;
    r.Decoder = j.at("decoder").get<std::string>();
    r.Channel = j.at("channel").get<std::string>();
    r.Receiver = j.at("receiver").get<std::string>();
    r.Frequency = OptionalOf(j.at("frequency"));
    r.Start = j.at("start").get<double>();
    r.End = j.at("end").get<double>();
    r.Offset = OptionalOf(j.at("offset"));
    for (const json& g : j.at("gaps"))
      r.Gaps.push_back({g.at(0).get<std::size_t>(), g.at(1).get<int>(), g.at(2).get<bool>()});
    r.Confidence = j.at("confidence").get<std::vector<float>>();
    r.Chars = j.at("chars").get<int>();
    r.Erasures = j.at("erasures").get<int>();
    r.Suspicious = j.at("suspicious").get<int>();
    r.Lost = j.at("lost").get<int>();
    r.Cer = j.at("cer").get<double>();
    m = std::move(r);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<TSpool> TSpool::Open(const std::string& path, const std::string& location, std::string& error)
{
  const std::string where = "the spool " + path;
  std::error_code ec;
  if (const fs::path folder = fs::path(path).parent_path(); !folder.empty()) fs::create_directories(folder, ec);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    error = "cannot open " + where + ": " + Why(db);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, SpoolBusyWaitMs);
  auto fail = [&](const std::string& what) {
    error = what;
    sqlite3_close(db);
    return nullptr;
  };
  const int app = PragmaValue(db, "PRAGMA application_id");
  if (app < 0) return fail(where + " is not an SQLite file, or is damaged: " + Why(db));
  if (app != 0 && app != SpoolApplicationId) return fail(where + " belongs to another program; it was left as it is");
  if (app == 0 && PragmaValue(db, "SELECT count(*) FROM sqlite_master") > 0)
    return fail(where + " holds another program's tables; it was left as it is");
  if (PragmaValue(db, "PRAGMA user_version") > SpoolVersion)
    return fail(where + " was written by a newer Brontel; it was left as it is");
  std::string e;
  // A rollback journal, not WAL: the spool works on any file system, and
  // each copy is on disk once Add returns.
  const std::string make =
      "BEGIN IMMEDIATE;"
      "CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, location TEXT NOT NULL,"
      " copy_key TEXT NOT NULL, text BLOB NOT NULL, fields TEXT NOT NULL);"
      "CREATE INDEX IF NOT EXISTS spool_by_location ON spool (location, id);"
      "PRAGMA application_id = " + std::to_string(SpoolApplicationId) + ";"
      "PRAGMA user_version = " + std::to_string(SpoolVersion) + ";"
      "COMMIT";
  if (!Exec(db, make.c_str(), e)) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
    return fail("cannot write " + where + ": " + e);
  }
  return std::unique_ptr<TSpool>(new TSpool(db, path, ShownLocation(location)));
}

TSpool::TSpool(sqlite3* db, std::string path, std::string location)
    : Db(db), File(std::move(path)), Location(std::move(location))
{
}

TSpool::~TSpool() { sqlite3_close(Db); }

bool TSpool::Add(const TMessage& copy, const std::string& key, int64_t& id, std::string& error)
{
  TStatement s(Db, "INSERT INTO spool (location, copy_key, text, fields) VALUES (?, ?, ?, ?)");
  if (s.Ok()) {
    s.Text(1, Location);
    s.Text(2, key);
    s.Blob(3, copy.Text);
    s.Text(4, SpoolFields(copy));
    if (sqlite3_step(*s) == SQLITE_DONE) {
      id = sqlite3_last_insert_rowid(Db);
      return true;
    }
  }
  error = "cannot write the spool " + File + ": " + Why(Db);
  return false;
}

bool TSpool::Remove(int64_t id, std::string& error)
{
  TStatement s(Db, "DELETE FROM spool WHERE id = ?");
  if (s.Ok() && sqlite3_bind_int64(*s, 1, id) == SQLITE_OK && sqlite3_step(*s) == SQLITE_DONE) return true;
  error = "cannot write the spool " + File + ": " + Why(Db);
  return false;
}

bool TSpool::Waiting(std::vector<TSpooled>& out, int& unreadable, std::string& error)
{
  out.clear();
  unreadable = 0;
  TStatement s(Db, "SELECT id, copy_key, text, fields FROM spool WHERE location = ? ORDER BY id");
  if (!s.Ok()) {
    error = "cannot read the spool " + File + ": " + Why(Db);
    return false;
  }
  s.Text(1, Location);
  int rc;
  while ((rc = sqlite3_step(*s)) == SQLITE_ROW) {
    TSpooled e;
    e.Id = sqlite3_column_int64(*s, 0);
    e.Key = s.Column(1);
    if (!ReadSpoolFields(s.Column(3), e.Copy) || e.Key.empty()) {
      ++unreadable;
      continue;
    }
    e.Copy.Text = s.Column(2);
    out.push_back(std::move(e));
  }
  if (rc == SQLITE_DONE) return true;
  error = "cannot read the spool " + File + ": " + Why(Db);
  return false;
}

std::string DefaultSpoolPath(std::string& error)
{
  const std::string store = DefaultStorePath(error);
  return store.empty() ? store : (fs::path(store).parent_path() / "spool.sqlite").string();
}

}  // namespace brontel::msg
