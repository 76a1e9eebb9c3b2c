// Copies waiting for a message store on a database server, kept in order in a
// local SQLite file so that they outlive the program: a copy goes in before it
// is offered to the database and comes out once the database has committed
// it, so a receiver stopped or killed while the database is away finds its
// copies there when it starts again. Each copy keeps the key it is stored
// with, which makes offering one again safe (it is stored once). Several
// programs may share one spool file; each sees the copies of every store in
// it but takes only those of its own store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "messages/message.h"

struct sqlite3;

namespace brontel::msg {

struct TSpooled {
  int64_t Id = 0;  // its place in the spool, in the order the copies came
  TMessage Copy;
  std::string Key;
};

class TSpool {
public:
  // Opens the spool file at `path` (created with its folder when missing)
  // for the copies of the store at `location`. Null with `error` set when
  // the file cannot be used: not writable, damaged, or another program's.
  static std::unique_ptr<TSpool> Open(const std::string& path, const std::string& location, std::string& error);
  ~TSpool();
  TSpool(const TSpool&) = delete;
  TSpool& operator=(const TSpool&) = delete;

  // Keeps a copy and its key; `id` is its place. False with `error` when it
  // could not be written (a full disk, a lock held too long).
  bool Add(const TMessage& copy, const std::string& key, int64_t& id, std::string& error);
  // Forgets a copy the store now holds.
  bool Remove(int64_t id, std::string& error);
  // The copies kept for this store, oldest first. Entries that cannot be
  // read back are left in the file and counted in `unreadable`.
  bool Waiting(std::vector<TSpooled>& out, int& unreadable, std::string& error);

  const std::string& Path() const { return File; }

private:
  TSpool(sqlite3* db, std::string path, std::string location);
  sqlite3* Db;
  std::string File;
  std::string Location;
};

// A copy as the spool keeps it (every field but the text, which goes beside
// it as bytes) and back; false when `json` is not such a form.
std::string SpoolFields(const TMessage& m);
bool ReadSpoolFields(const std::string& json, TMessage& m);

// The spool beside the default store: $XDG_DATA_HOME/brontel/spool.sqlite,
// or ~/.local/share/brontel/spool.sqlite; empty with `error` set if neither
// XDG_DATA_HOME nor HOME is set.
std::string DefaultSpoolPath(std::string& error);

}  // namespace brontel::msg
