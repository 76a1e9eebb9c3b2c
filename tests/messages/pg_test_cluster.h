// The tests' PostgreSQL: the cluster of scripts/postgres-test-server.sh
// named by BRONTEL_PG_URI and BRONTEL_PG_DIR (the test command starts one),
// or one of a test's own; a fresh database for each test, and statements run
// on it through libpq as another program would.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/run_command.h"

namespace brontel::msg::test {

inline std::string PgScript() { return std::string("bash '") + BRONTEL_SOURCE_DIR + "/scripts/postgres-test-server.sh'"; }

// Runs `sql` on the database at `uri`; the first column of each result row
// goes to `rows`. False with `error` set when it fails.
inline bool PgExec(const std::string& uri, const std::string& sql, std::string& error,
                   std::vector<std::string>* rows = nullptr)
{
  PGconn* c = PQconnectdb(uri.c_str());
  bool ok = PQstatus(c) == CONNECTION_OK;
  if (ok) {
    PGresult* r = PQexec(c, sql.c_str());
    ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (ok && rows)
      for (int i = 0; i < PQntuples(r); ++i) rows->push_back(PQgetvalue(r, i, 0));
    PQclear(r);
  }
  if (!ok) error = PQerrorMessage(c);
  PQfinish(c);
  return ok;
}

// The first column of the first row of `sql`, or "" (with a test failure
// said by the caller) when it fails.
inline std::string PgValue(const std::string& uri, const std::string& sql)
{
  std::vector<std::string> rows;
  std::string error;
  if (!PgExec(uri, sql, error, &rows) || rows.empty()) return "(" + error + ")";
  return rows.front();
}

class TPgCluster {
public:
  // The cluster the test command started, else one of this process's own.
  static TPgCluster& Shared()
  {
    static TPgCluster cluster(false);
    return cluster;
  }
  // A cluster of its own (to be stopped and started again), removed with it.
  explicit TPgCluster(bool own = true)
  {
    std::string vars;
    const char* uri = std::getenv("BRONTEL_PG_URI");
    const char* dir = std::getenv("BRONTEL_PG_DIR");
    if (!own && uri && dir) {
      vars = std::string("BRONTEL_PG_URI='") + uri + "';BRONTEL_PG_DIR=" + dir + ";";
    } else if (const brontel::test::TCommandResult r = brontel::test::RunShell(PgScript() + " start");
               r.Status == 0) {
      vars = r.Out;
      Own = true;
    }
    auto value = [&](const std::string& name) {
      const std::size_t at = vars.find(name + "=");
      if (at == std::string::npos) return std::string();
      std::size_t from = at + name.size() + 1;
      const bool quoted = from < vars.size() && vars[from] == '\'';
      from += quoted;
      return vars.substr(from, vars.find(quoted ? '\'' : ';', from) - from);
    };
    Base = value("BRONTEL_PG_URI");
    Dir = value("BRONTEL_PG_DIR");
  }
  ~TPgCluster()
  {
    if (Own) brontel::test::RunShell(PgScript() + " stop '" + Dir + "'");
  }
  TPgCluster(const TPgCluster&) = delete;
  TPgCluster& operator=(const TPgCluster&) = delete;

  bool Ok() const { return !Base.empty(); }
  // The URI of database `name` of the cluster.
  std::string Uri(const std::string& name) const
  {
    const std::size_t slash = Base.find("@/"), query = Base.find('?');
    if (slash == std::string::npos || query == std::string::npos) return Base;
    return Base.substr(0, slash + 2) + name + Base.substr(query);
  }
  // A new empty database; its URI (empty when it cannot be made).
  std::string NewDatabase(const std::string& hint)
  {
    static std::atomic<int> count{0};
    std::string name = "t_" + std::to_string(::getpid()) + "_" + std::to_string(count++) + "_";
    for (const char c : hint.substr(0, 40))
      name += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    std::string error;
    return PgExec(Base, "CREATE DATABASE " + name, error) ? Uri(name) : std::string();
  }
  // Stops the server (the cluster stays), and starts it again on the same port.
  bool Halt() const { return brontel::test::RunShell(PgScript() + " halt '" + Dir + "' >&2").Status == 0; }
  bool Resume() const { return brontel::test::RunShell(PgScript() + " resume '" + Dir + "' >&2").Status == 0; }

private:
  std::string Base, Dir;
  bool Own = false;
};

// A role of the tests' cluster that owns a database of its own and may be
// shut out (no connection allowed: the server refuses it as busy) and let in.
struct TShutOut {
  std::string Name, Uri;
  explicit TShutOut(const std::string& name) : Name(name)
  {
    std::string error;
    const std::string base = TPgCluster::Shared().Uri("postgres");
    EXPECT_TRUE(PgExec(base, "CREATE ROLE " + Name + " LOGIN", error)) << error;
    EXPECT_TRUE(PgExec(base, "CREATE DATABASE " + Name + " OWNER " + Name, error)) << error;
    const std::string db = TPgCluster::Shared().Uri(Name);
    Uri = "postgresql://" + Name + db.substr(db.find("@/"));
  }
  void Allow(bool on)
  {
    std::string error;
    EXPECT_TRUE(PgExec(TPgCluster::Shared().Uri("postgres"),
                       "ALTER ROLE " + Name + " CONNECTION LIMIT " + (on ? "-1" : "0"), error))
        << error;
  }
};

}  // namespace brontel::msg::test
