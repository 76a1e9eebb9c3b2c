// What the message store asks of the database under it: statements with
// parameters, transactions, and the words in which SQLite and PostgreSQL
// spell a few things differently. The store's tables, its reading and its
// writing are written once on top (store.cpp); sqlite_db.cpp and pg_db.cpp
// connect, check and bring a store up to date each in their own way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "messages/store.h"

namespace brontel::msg::db {

using TParams = std::vector<TValue>;

// One result row; columns counted from 0.
class TRow {
public:
  virtual bool Null(int c) const = 0;
  virtual int64_t Int(int c) const = 0;
  virtual double Real(int c) const = 0;
  // A text, or the bytes of a blob.
  virtual std::string Text(int c) const = 0;

protected:
  ~TRow() = default;
};
using TRowFn = std::function<void(const TRow&)>;

// The kinds of column the store declares.
enum class TType : uint8_t {
  Int,
  Real,
  Text,
  Blob,
  Flag,       // true or false (tested as a condition of its own)
  Key,        // the table's own number, given by the database
  Reference,  // another table's Key
};

class TDatabase {
public:
  virtual ~TDatabase() = default;

  // The declared type of a column of kind `t`.
  virtual std::string Type(TType t) const = 0;
  // The literal of a Flag column's value.
  virtual std::string Flag(bool value) const = 0;
  // An SQL expression for the larger of two.
  virtual std::string Greatest(const std::string& a, const std::string& b) const = 0;
  // A condition that text column `column` matches the LIKE pattern of the
  // next parameter (escaped with '\'), ASCII letters in any case; the
  // pattern is bound as given (its letters already in upper case).
  virtual std::string LikeAnyCase(const std::string& column) const = 0;

  // Runs one statement with '?' for each parameter; `row` sees each result row.
  virtual bool Run(const std::string& sql, const TParams& params, const TRowFn& row, std::string& error) = 0;
  // A transaction: a write transaction holds off other writers of the
  // identities it locks (a read transaction sees one state throughout).
  virtual bool Begin(bool write, std::string& error) = 0;
  // Within a write transaction: waits until no other writer stores a copy
  // of `identity`, and holds it so until the transaction ends.
  virtual bool LockIdentity(const std::string& identity, std::string& error) = 0;
  virtual bool Commit(std::string& error) = 0;
  virtual void Rollback() = 0;
  // Whether the last failure may pass by itself (a lock another connection
  // held too long, a connection lost or refused): nothing was written.
  virtual bool Transient() const = 0;
  virtual void SetBusyWait(double seconds) = 0;
  virtual bool Remote() const = 0;
};

// The statements that take a store of schema `from` (0: none) to the
// current one: tables, indexes and columns, without the schema number,
// which each database keeps in its own way.
std::string UpgradeSql(const TDatabase& db, int64_t from);

// The SQLite store: opened, checked and brought up to date as
// TMessageStore::Open says; `version` is its schema. Null with `error` set.
std::unique_ptr<TDatabase> OpenSqlite(const std::string& path, TMessageStore::TMode mode, int64_t& version,
                                      std::string& error);
std::unique_ptr<TDatabase> SqliteInMemory(std::string& error);

// The PostgreSQL store at `uri`; with `patient`, a server that cannot be
// reached comes back unconnected (`error` says why) and is connected to,
// and checked, when first used.
std::unique_ptr<TDatabase> OpenPostgres(const std::string& uri, TMessageStore::TMode mode, bool patient,
                                        int64_t& version, std::string& error);

}  // namespace brontel::msg::db
