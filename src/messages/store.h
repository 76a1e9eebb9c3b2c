// The message store: one row per received copy and one per message (an
// identity B1B2B3B4 within the repeat window), the latter holding the best
// copy repaired from the others. It lives in an SQLite file (one receiver)
// or in a PostgreSQL database that receivers at several sites share; both
// behave the same.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "messages/message.h"

namespace brontel::msg {

namespace db {
class TDatabase;
// A statement parameter: NULL, an integer, a number, a text, or bytes.
struct TBlob {
  std::string Bytes;
};
using TValue = std::variant<std::monostate, int64_t, double, std::string, TBlob>;
}  // namespace db

inline constexpr int StoreSchemaVersion = 5;
inline constexpr double DefaultRepeatWindow = 72.0 * 3600.0;  // seconds

struct TStoreFilter {
  std::string Stations;               // B1 letters to include (empty: all)
  std::string Subjects;               // B2 letters to include (empty: all)
  std::optional<double> Since, Until; // first reception within [Since, Until], UTC
  std::string Grep;                   // UTF-8 text the message contains (ASCII letters in any case)
  bool NewOnly = false;               // only messages not yet marked seen
  bool SelectedOnly = false;          // only messages inside the selection
};

// The listener's marks on a stored message (TMessage::Opened, Kept).
enum class TMark : uint8_t { Opened, Kept };

class TMessageStore {
public:
  // Create and Existing open the store to be written (Create makes a missing
  // one, directories included); Read opens it without ever writing to it,
  // so that a store on a read-only file, folder or mount can be read, and
  // reads an older schema as it is (a reader never migrates; an empty file
  // is an empty store).
  enum class TMode { Create, Existing, Read };

  // Opens the store at `location`: a PostgreSQL database for a libpq URI
  // (postgresql://... or postgres://..., see IsDatabaseUri), else an SQLite
  // file. A file that is not an SQLite database, is damaged, belongs to
  // another program or was written by a newer schema is refused with a
  // message saying so and left untouched; so is a database whose tables
  // belong to another program or a newer schema, and, for writing, a store
  // that cannot be written. A new store appears whole or not at all, and
  // several programs may create or bring one up to date at once (a
  // database's tables are made in its current schema; the database itself
  // must exist). Returns null with `error` set on failure.
  static std::unique_ptr<TMessageStore> Open(const std::string& location, TMode mode, std::string& error);
  // The same; with `patient`, a database server that cannot be reached now
  // is no failure: the store comes back with `error` saying why and
  // connects when it is next used (Add reports it busy until then).
  static std::unique_ptr<TMessageStore> Open(const std::string& location, TMode mode, std::string& error,
                                             bool patient);
  // A store in memory, for a run that keeps nothing.
  static std::unique_ptr<TMessageStore> InMemory(std::string& error);
  ~TMessageStore();
  TMessageStore(const TMessageStore&) = delete;
  TMessageStore& operator=(const TMessageStore&) = delete;

  // Seconds within which a copy of a stored identity is a repeat.
  void SetRepeatWindow(double seconds) { Window = seconds; }

  // Stores a received copy in one transaction; when Add returns true the copy
  // is on disk. `shown` becomes the message to show: the copy itself, or for
  // a later copy of a stored identity the stored message repaired with it
  // (Copies counted). That is a repeat (Repeat set) only once a readable
  // copy of the identity (see Readable), or a readable repair of its
  // copies, was stored; until then each copy is news to the listener.
  bool Add(const TMessage& copy, TMessage& shown, std::string& error);
  // The same; `busy` tells a failure that may pass by itself (a store
  // locked by another connection for longer than the busy wait, a database
  // that is away or refuses for now: the copy can be offered again) from
  // one that will not.
  bool Add(const TMessage& copy, TMessage& shown, std::string& error, bool& busy);
  // The same for a copy with a key of its own: a copy whose key is stored
  // already is not stored again (`shown` is then its stored message), so
  // that a copy offered again after the connection was lost while it was
  // being committed is stored once.
  bool Add(const TMessage& copy, const std::string& key, TMessage& shown, std::string& error, bool& busy);
  // How long one statement waits for a lock another connection holds before
  // the store reports itself busy.
  void SetBusyWait(double seconds);
  // Whether the store is a database on a server (whose connection, when
  // lost, is made again when the store is next used).
  bool Remote() const;

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
  // Sets or clears `mark` on the stored messages `storeIds`, in one
  // transaction. Unknown numbers are passed over.
  bool SetMark(TMark mark, const std::vector<int64_t>& storeIds, bool on, std::string& error);
  // The stored message `storeId` as List gives it; false with `error` when
  // there is none.
  bool Get(int64_t storeId, TMessage& out, std::string& error);

private:
  TMessageStore(std::unique_ptr<db::TDatabase> db, int64_t version, bool readOnly);
  bool AddInTransaction(const TMessage& copy, const std::string& key, TMessage& shown, std::string& error);
  struct TRepeated;
  bool FindKey(const std::string& key, std::optional<TMessage>& found, std::string& error);
  bool FindRepeat(const TMessage& copy, std::optional<TRepeated>& found, std::string& error);
  bool AddFirst(const TMessage& copy, const std::string& key, TMessage& shown, std::string& error);
  bool AddRepeat(const TMessage& copy, const std::string& key, const TRepeated& stored, TMessage& shown,
                 std::string& error);
  int64_t AddCopy(int64_t messageId, bool repeat, const TMessage& copy, const std::string& key, std::string& error);
  bool ReadMessages(const std::string& where, const std::vector<db::TValue>& params, bool ofCopies,
                    std::vector<TMessage>& out, std::string& error);

  std::unique_ptr<db::TDatabase> Db;
  int64_t Version;  // the store's schema (0: an empty file or database, read as holding no message)
  bool ReadOnly;
  double Window = DefaultRepeatWindow;
};

// Whether `location` names a PostgreSQL database (a libpq URI,
// postgresql://... or postgres://...) rather than an SQLite file.
bool IsDatabaseUri(std::string_view location);
// The location as it may be shown: a password in a database URI becomes ***.
std::string ShownLocation(const std::string& location);

// $XDG_DATA_HOME/brontel/messages.sqlite, or ~/.local/share/brontel/... when
// XDG_DATA_HOME is unset or not absolute; empty with `error` set if neither
// it nor HOME is set.
std::string DefaultStorePath(std::string& error);

}  // namespace brontel::msg
