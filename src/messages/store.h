// The message store: an SQLite database with one row per received copy and
// one per message (an identity B1B2B3B4 within the repeat window), the
// latter holding the best copy repaired from the others.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messages/message.h"

struct sqlite3;
struct sqlite3_stmt;

namespace brontel::msg {

inline constexpr int StoreSchemaVersion = 2;
inline constexpr double DefaultRepeatWindow = 72.0 * 3600.0;  // seconds

struct TStoreFilter {
  std::string Stations;               // B1 letters to include (empty: all)
  std::string Subjects;               // B2 letters to include (empty: all)
  std::optional<double> Since, Until; // first reception within [Since, Until], UTC
  std::string Grep;                   // UTF-8 text the message contains (ASCII letters in any case)
  bool NewOnly = false;               // only messages not yet marked seen
};

class TMessageStore {
public:
  // Create and Existing open the store to be written (Create makes a missing
  // one, directories included); Read opens it without ever writing to it,
  // so that a store on a read-only file, folder or mount can be read, and
  // reads an older schema as it is (a reader never migrates; an empty file
  // is an empty store).
  enum class TMode { Create, Existing, Read };

  // Opens the store at `path`. A file that is not an SQLite database, is
  // damaged, belongs to another program or was written by a newer schema is
  // refused with a message saying so and left untouched; so is, for
  // writing, a store that cannot be written. A new store appears whole or
  // not at all, and several programs may create or bring one up to date at
  // once. Returns null with `error` set on failure.
  static std::unique_ptr<TMessageStore> Open(const std::string& path, TMode mode, std::string& error);
  // A store in memory, for a run that keeps nothing.
  static std::unique_ptr<TMessageStore> InMemory(std::string& error);
  ~TMessageStore();
  TMessageStore(const TMessageStore&) = delete;
  TMessageStore& operator=(const TMessageStore&) = delete;

  // Seconds within which a copy of a stored identity is a repeat.
  void SetRepeatWindow(double seconds) { Window = seconds; }

  // Stores a received copy in one transaction; when Add returns true the copy
  // is on disk. `shown` becomes the message to show: the copy itself, or for
  // a repeat the stored message merged with it (Repeat set, Copies counted).
  bool Add(const TMessage& copy, TMessage& shown, std::string& error);
  // The same; `busy` tells a store locked by another connection for longer
  // than the busy wait (nothing was written: the copy can be offered again)
  // from a failure that will not pass by itself.
  bool Add(const TMessage& copy, TMessage& shown, std::string& error, bool& busy);
  // How long one statement waits for a lock another connection holds before
  // the store reports itself busy.
  void SetBusyWait(double seconds);

  // Stored messages (best copies) matching the filter, oldest first.
  bool List(const TStoreFilter& filter, std::vector<TMessage>& out, std::string& error);
  // Stored messages with identity `id` (half-width B1B2B3B4), newest first.
  bool Find(std::string_view id, std::vector<TMessage>& out, std::string& error);
  // Every received copy of stored message `storeId`, in order of reception.
  bool Copies(int64_t storeId, std::vector<TMessage>& out, std::string& error);
  // The copy of stored message `storeId` received best (see Better).
  bool BestCopy(int64_t storeId, TMessage& out, std::string& error);
  // Marks messages as seen (for TStoreFilter::NewOnly).
  bool MarkSeen(const std::vector<TMessage>& messages, std::string& error);

private:
  TMessageStore(sqlite3* db, int64_t version, bool readOnly) : Db(db), Version(version), ReadOnly(readOnly) {}
  bool AddInTransaction(const TMessage& copy, TMessage& shown, std::string& error);
  struct TRepeated;
  bool FindRepeat(const TMessage& copy, std::optional<TRepeated>& found, std::string& error);
  bool AddFirst(const TMessage& copy, TMessage& shown, std::string& error);
  bool AddRepeat(const TMessage& copy, const TRepeated& stored, TMessage& shown, std::string& error);
  int64_t AddCopy(int64_t messageId, bool repeat, const TMessage& copy, std::string& error);
  bool ReadMessages(const std::string& where, const std::function<void(sqlite3_stmt*)>& bind, bool ofCopies,
                    std::vector<TMessage>& out, std::string& error);

  sqlite3* Db;
  int64_t Version;  // the store's schema (0: an empty file, read as holding no message)
  bool ReadOnly;
  double Window = DefaultRepeatWindow;
};

// $XDG_DATA_HOME/brontel/messages.sqlite, or ~/.local/share/brontel/... when
// XDG_DATA_HOME is unset or not absolute; empty with `error` set if neither
// it nor HOME is set.
std::string DefaultStorePath(std::string& error);

}  // namespace brontel::msg
