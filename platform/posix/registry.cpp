// The registry on POSIX: one SQLite database, <store>/registry.db.
//
//   keys(root, path, parent, name)     every key; `name` as first written
//   vals(root, key, name, type, data)  every value
//
// Paths and names compare without regard to case (ASCII, as the registry:
// COLLATE NOCASE) and keep the case they were first written with. The
// database runs in WAL mode with synchronous=NORMAL: each change is one
// transaction, never torn, and a writer killed midway leaves the store whole;
// the last commits before a power cut may be lost (the registry, too, writes
// its hives lazily). Each thread keeps its own connection with its statements
// prepared once; a busy time-out lets runtimes that share the store wait for
// each other.
//
// Each connection keeps the values it read or wrote. They are served without
// SQLite while the WAL index header (shared memory that every commit of any
// connection, in any process, rewrites) is the one the cache was checked
// against: comparing it takes no lock and no system call. When it changed,
// SQLite's data_version tells whether another connection wrote (then the
// cache is dropped) or only this one. A write of the value the store is thus
// known to hold already is left out.
//
// A store of the earlier folder-per-key form in the same folder is imported
// once, in one write transaction, and its root folders are then moved aside
// into <store>/folder-store-imported. A damaged database is reported, naming
// the file, and never written over or removed.
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/environment.h"
#include "platform/posix/registry_folders.h"
#include "platform/registry.h"

namespace platform {

namespace registry_internal {
extern std::atomic<std::size_t> g_value_limit_for_test;
}

namespace {

constexpr char kDatabaseName[] = "registry.db";
constexpr char kImportedFolder[] = "folder-store-imported";
constexpr int kBusyTimeoutMs = 10000;

std::atomic<std::uint64_t> g_connections{0};
// Values this process added or removed (other processes show in data_version).
std::atomic<std::uint64_t> g_name_changes{0};

thread_local std::string t_problem;

std::string HomeFolder() {
  if (std::string home = ReadEnv("HOME").value_or(""); !home.empty()) return home;
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return "/tmp";
}

std::string StoreFolder() {
  if (std::string own = ReadEnv("OLVEX_REGISTRY").value_or(""); !own.empty()) return own;
  if (std::string xdg = ReadEnv("XDG_CONFIG_HOME").value_or(""); !xdg.empty() && xdg[0] == '/')
    return xdg + "/olvex/registry";
  return HomeFolder() + "/.config/olvex/registry";
}

RegistryStatus FromSqlite(int code) {
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return RegistryStatus::kOk;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return RegistryStatus::kCorrupt;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH: return RegistryStatus::kAccessDenied;
    case SQLITE_TOOBIG: return RegistryStatus::kRefused;
    default: return RegistryStatus::kFailed;
  }
}

enum Statement {
  kBegin,
  kBeginRead,
  kCommit,
  kRollback,
  kDataVersion,
  kReadValue,
  kInsertValue,
  kUpdateValue,
  kDeleteValue,
  kKeyExists,
  kInsertKey,
  kDeleteTreeValues,
  kDeleteTreeKeys,
  kListValues,
  kListSubkeys,
  kCountValues,
  kCountSubkeys,
  kStatementCount
};

constexpr const char* kStatementText[kStatementCount] = {
    "BEGIN IMMEDIATE",
    "BEGIN DEFERRED",
    "COMMIT",
    "ROLLBACK",
    "PRAGMA data_version",
    "SELECT type, data FROM vals WHERE root=?1 AND key=?2 AND name=?3",
    "INSERT INTO vals(root, key, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING",
    "UPDATE vals SET type=?4, data=?5 WHERE root=?1 AND key=?2 AND name=?3",
    "DELETE FROM vals WHERE root=?1 AND key=?2 AND name=?3",
    "SELECT 1 FROM keys WHERE root=?1 AND path=?2",
    "INSERT OR IGNORE INTO keys(root, path, parent, name) VALUES(?1, ?2, ?3, ?4)",
    // A key's tree: the key itself, and every path that begins with it and a
    // `\` (under NOCASE those sort from "key\" up to, not including, "key]").
    "DELETE FROM vals WHERE root=?1 AND (key=?2 OR (key>=?2||'\\' AND key<?2||']'))",
    "DELETE FROM keys WHERE root=?1 AND (path=?2 OR (path>=?2||'\\' AND path<?2||']'))",
    "SELECT name FROM vals WHERE root=?1 AND key=?2 ORDER BY name",
    "SELECT name FROM keys WHERE root=?1 AND parent=?2 ORDER BY name",
    "SELECT count(*) FROM vals WHERE root=?1 AND key=?2",
    "SELECT count(*) FROM keys WHERE root=?1 AND parent=?2",
};

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(root INTEGER NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
    " parent TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE, PRIMARY KEY(root, path)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(root, parent, name);"
    "CREATE TABLE IF NOT EXISTS vals(root INTEGER NOT NULL, key TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(root, key, name)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;";

// The WAL index header as SQLite keeps it at the start of the shared memory
// (two copies, the second written first): version 3007000, then iChange, a
// count of commits, in word 2. Any commit rewrites it.
struct WalHeader {
  static constexpr std::size_t kWords = 12;
  static constexpr std::uint32_t kVersion = 3007000;
  std::array<std::uint32_t, kWords> words{};
  bool operator==(const WalHeader&) const = default;
  std::uint32_t commits() const { return words[2]; }

  // Nothing while a writer is halfway through (the copies differ) or the
  // layout is not the known one.
  static std::optional<WalHeader> Read(const volatile std::uint32_t* shared) {
    if (!shared) return std::nullopt;
    WalHeader first, second;
    for (std::size_t i = 0; i < kWords; ++i) first.words[i] = shared[i];
    std::atomic_thread_fence(std::memory_order_acquire);
    for (std::size_t i = 0; i < kWords; ++i) second.words[i] = shared[kWords + i];
    if (first != second || first.words[0] != kVersion) return std::nullopt;
    return first;
  }
};

// Values by root, key and name (ASCII case folded, as the store compares).
class ValueCache {
 public:
  static constexpr std::size_t kMostBytes = 8u << 20, kLargestValue = 64u << 10;
  struct Entry {
    bool exists = false;
    RegistryData value;
  };

  const Entry* Find(RegistryRoot root, std::string_view key, std::string_view name) const {
    const auto it = entries_.find(Key(root, key, name));
    return it == entries_.end() ? nullptr : &it->second;
  }
  // `value` nothing: the value does not exist.
  void Put(RegistryRoot root, std::string_view key, std::string_view name, const RegistryData* value) {
    std::string k = Key(root, key, name);
    if (value && value->data.size() > kLargestValue) return Erase(k);
    Entry& e = entries_[k];
    bytes_ = bytes_ - e.value.data.size() + (value ? value->data.size() : 0);
    e.exists = value != nullptr;
    e.value = value ? *value : RegistryData{};
    if (bytes_ > kMostBytes) Clear();
  }
  void Clear() {
    entries_.clear();
    bytes_ = 0;
  }

 private:
  static std::string Key(RegistryRoot root, std::string_view key, std::string_view name) {
    std::string k(1, static_cast<char>('0' + static_cast<int>(root)));
    k.reserve(key.size() + name.size() + 2);
    for (std::string_view part : {key, name}) {
      for (char ch : part) k.push_back(ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch);
      k.push_back('\0');  // never in a key or a name
    }
    return k;
  }
  void Erase(const std::string& k) {
    const auto it = entries_.find(k);
    if (it == entries_.end()) return;
    bytes_ -= it->second.value.data.size();
    entries_.erase(it);
  }
  std::unordered_map<std::string, Entry> entries_;
  std::size_t bytes_ = 0;
};

// One thread's connection to one store.
class Connection {
 public:
  ~Connection() {
    for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
    if (db_) sqlite3_close_v2(db_);
  }

  RegistryStatus Open(const std::string& folder);
  const std::string& folder() const { return folder_; }
  const std::string& file() const { return file_; }
  std::uint64_t serial() const { return serial_; }

  // A statement ready for binding.
  sqlite3_stmt* Get(Statement s) {
    sqlite3_stmt* stmt = statements_[s];
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return stmt;
  }
  // Runs a statement to its end; the status of the last step.
  RegistryStatus Run(sqlite3_stmt* stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    sqlite3_reset(stmt);
    return Check(rc);
  }
  RegistryStatus Check(int rc) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return RegistryStatus::kOk;
    t_problem = file_ + ": " + sqlite3_errmsg(db_);
    const RegistryStatus status = FromSqlite(rc);
    if (status == RegistryStatus::kCorrupt) ReportDamage(file_, sqlite3_errmsg(db_));
    return status;
  }
  sqlite3* db() const { return db_; }
  bool InTransaction() const { return !sqlite3_get_autocommit(db_); }

  static void ReportDamage(const std::string& file, const std::string& what);

  // ---- the value cache

  // True when the cache holds the store as it is (inside a read scope: as it
  // was when the scope began); checks data_version when the header moved.
  bool Fresh() {
    if (scope_) return scope_fresh_;
    if (InTransaction()) return false;
    if (label_ && Header() == label_) return true;
    return Validate();
  }
  // The data_version of the last check (own commits leave it).
  std::optional<std::uint64_t> version() const { return version_; }
  const ValueCache::Entry* Cached(RegistryRoot root, std::string_view key, std::string_view name) const {
    return cache_.Find(root, key, name);
  }
  // A value read from the database (nothing: it does not exist): kept when no
  // commit came after the check.
  void Remember(RegistryRoot root, std::string_view key, std::string_view name, const RegistryData* value) {
    if (label_ && Header() == label_) cache_.Put(root, key, name, value);
  }
  // After this connection changed a value in `commits` commits (0 or 1; -1:
  // not known) and now holds `value` (nothing: deleted). The header stays
  // checked when it counts exactly this connection's commit since the check.
  void Changed(RegistryRoot root, std::string_view key, std::string_view name, const RegistryData* value,
               int commits) {
    cache_.Put(root, key, name, value);
    if (commits == 0) return;
    const std::optional<WalHeader> now = Header();
    if (commits == 1 && label_ && now && now->commits() == label_->commits() + 1) label_ = now;
    else label_.reset();
  }
  // True when the store holds this value as it is now (no read scope open:
  // its view may be older than the store), so that writing it changes nothing.
  bool Holds(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t type,
             std::string_view data) {
    if (scope_ || InTransaction() || !Fresh()) return false;
    const ValueCache::Entry* e = cache_.Find(root, key, name);
    return e && e->exists && e->value.type == type && e->value.data == data;
  }
  // After commits that changed no value (keys made) or many (a tree deleted).
  void ChangedKeys() { label_.reset(); }
  void ChangedSeveral() {
    cache_.Clear();
    label_.reset();
  }
  // A write ends the read transaction of this thread's scope.
  void EndReadTransaction() {
    if (InTransaction()) Run(Get(kCommit));
  }

  // ---- read scopes: the check once at the start; the first read the cache
  // cannot answer opens the read transaction the others then share.
  bool OpenScope() {
    if (scope_ || InTransaction()) return false;
    scope_fresh_ = Fresh();
    scope_ = true;
    return true;
  }
  void CloseScope() {
    scope_ = false;
    EndReadTransaction();
  }
  void BeginScopeReads() {
    if (scope_ && !InTransaction()) Run(Get(kBeginRead));
  }

 private:
  RegistryStatus Import();
  void MoveFolderStoreAside();
  void MapWalIndex();

  std::optional<WalHeader> Header() const { return WalHeader::Read(shared_); }
  bool Validate() {
    const std::optional<WalHeader> before = Header();
    label_.reset();
    sqlite3_stmt* s = Get(kDataVersion);
    const bool row = sqlite3_step(s) == SQLITE_ROW;
    const auto version = static_cast<std::uint64_t>(row ? sqlite3_column_int64(s, 0) : 0);
    sqlite3_reset(s);
    if (!row) {
      version_.reset();
      cache_.Clear();
      return false;
    }
    if (version_ != version) {
      cache_.Clear();
      version_ = version;
    }
    if (before && Header() == before) label_ = before;
    return true;
  }

  std::string folder_, file_;
  sqlite3* db_ = nullptr;
  std::uint64_t serial_ = 0;
  std::array<sqlite3_stmt*, kStatementCount> statements_{};
  const volatile std::uint32_t* shared_ = nullptr;  // the WAL index; nothing: every read checks
  ValueCache cache_;
  std::optional<WalHeader> label_;  // the header the cache was last found current with
  std::optional<std::uint64_t> version_;
  bool scope_ = false, scope_fresh_ = false;
};

void Connection::ReportDamage(const std::string& file, const std::string& what) {
  // Once per file and process: the user learns which file it is and that it stays as it is.
  static std::mutex mutex;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> lock(mutex);
  if (!reported.insert(file).second) return;
  std::fprintf(stderr,
               "olvex: the settings store %s is damaged (%s); it is left as it is: repair it, or move it away to "
               "start a new one\n",
               file.c_str(), what.c_str());
}

RegistryStatus Connection::Open(const std::string& folder) {
  folder_ = folder;
  file_ = folder + "/" + kDatabaseName;
  auto refused = [](const std::string& path, int err) {
    t_problem = path + ": " + std::strerror(err);
    return err == EACCES || err == EPERM || err == EROFS ? RegistryStatus::kAccessDenied : RegistryStatus::kFailed;
  };
  if (!folder_registry::MakeFolders(folder)) return refused(folder, errno ? errno : ENOTDIR);
  // The file is the user's alone; SQLite gives its journal files the same mode.
  const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return refused(file_, errno);
  ::close(fd);
  int rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return Check(rc);
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // A new store gets pages of 1 KB: a variable's write puts one page into the
  // WAL, and a small page is written and summed in a third of the time.
  rc = sqlite3_exec(db_, "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                    nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Check(rc);
  for (int i = 0; i < kStatementCount; ++i) {
    rc = sqlite3_prepare_v3(db_, kStatementText[i], -1, SQLITE_PREPARE_PERSISTENT, &statements_[i], nullptr);
    if (rc != SQLITE_OK) return Check(rc);
  }
  serial_ = ++g_connections;
  if (folder_registry::Exists(folder_)) {
    const RegistryStatus imported = Import();
    if (imported != RegistryStatus::kOk) return imported;
  }
  MapWalIndex();
  return RegistryStatus::kOk;
}

// The WAL index as this connection's SQLite maps it (the schema statements
// above opened it); it stays mapped while the connection lives.
void Connection::MapWalIndex() {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods ||
      file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
    return;
  volatile void* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) == SQLITE_OK && region)
    shared_ = static_cast<const volatile std::uint32_t*>(region);
}

// The connection of this thread to the store the environment names; a new
// one when the store moved (tests point OLVEX_REGISTRY elsewhere).
thread_local std::unique_ptr<Connection> t_connection;

Connection* Connect(RegistryStatus* status) {
  std::string folder = StoreFolder();
  if (t_connection && t_connection->folder() == folder) return t_connection.get();
  t_connection.reset();
  auto connection = std::make_unique<Connection>();
  *status = connection->Open(folder);
  if (*status != RegistryStatus::kOk) return nullptr;
  t_connection = std::move(connection);
  return t_connection.get();
}

void Bind(sqlite3_stmt* s, int index, std::string_view text) {
  // An empty text is "", never NULL.
  sqlite3_bind_text(s, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// A statement bound to a key (parameters 1 and 2) and, when given, a value name (3).
sqlite3_stmt* BoundTo(Connection* c, Statement which, RegistryRoot root, std::string_view key,
                      std::optional<std::string_view> name = std::nullopt) {
  sqlite3_stmt* s = c->Get(which);
  sqlite3_bind_int(s, 1, static_cast<int>(root));
  Bind(s, 2, key);
  if (name) Bind(s, 3, *name);
  return s;
}

std::string ColumnText(sqlite3_stmt* s, int column) {
  const auto* text = static_cast<const char*>(sqlite3_column_blob(s, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column))) : std::string();
}

// A write transaction: rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Connection* c) : c_(c) {
    if (!sqlite3_get_autocommit(c_->db())) c_->Run(c_->Get(kCommit));  // a read scope's: it ends here
    status_ = c_->Run(c_->Get(kBegin));
  }
  ~Transaction() {
    if (status_ == RegistryStatus::kOk && !done_) c_->Run(c_->Get(kRollback));
  }
  RegistryStatus status() const { return status_; }
  RegistryStatus Commit(RegistryStatus result) {
    done_ = true;
    if (result != RegistryStatus::kOk) {
      c_->Run(c_->Get(kRollback));
      return result;
    }
    const RegistryStatus committed = c_->Run(c_->Get(kCommit));
    if (committed != RegistryStatus::kOk) c_->Run(c_->Get(kRollback));
    return committed;
  }

 private:
  Connection* c_;
  RegistryStatus status_;
  bool done_ = false;
};

// Key paths: components that are not empty, at most 255 bytes, without NUL.
RegistryStatus CheckKey(std::string_view key) {
  if (key.empty()) return RegistryStatus::kOk;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = key.find('\\', start);
    std::string_view part = key.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty() || part.size() > kMaxRegistryKeyName || part.find('\0') != std::string_view::npos)
      return RegistryStatus::kBadName;
    if (end == std::string_view::npos) return RegistryStatus::kOk;
    start = end + 1;
  }
}

RegistryStatus CheckValuePath(std::string_view key, std::string_view name) {
  if (name.size() > kMaxRegistryValueName || name.find('\0') != std::string_view::npos) return RegistryStatus::kBadName;
  return CheckKey(key);
}

std::size_t ValueLimit() {
  std::size_t test = registry_internal::g_value_limit_for_test.load(std::memory_order_relaxed);
  return test ? test : kDefaultRegistryValueLimit;
}

bool KeyExistsIn(Connection* c, RegistryRoot root, std::string_view key) {
  if (key.empty()) return true;  // the roots always exist
  sqlite3_stmt* s = BoundTo(c, kKeyExists, root, key);
  const bool found = sqlite3_step(s) == SQLITE_ROW;
  sqlite3_reset(s);
  return found;
}

// Inside a transaction: the key and every parent it lacks.
RegistryStatus EnsureKey(Connection* c, RegistryRoot root, std::string_view key) {
  if (KeyExistsIn(c, root, key)) return RegistryStatus::kOk;
  for (std::size_t end = 0; end != std::string_view::npos;) {
    end = key.find('\\', end + 1);
    const std::string_view path = key.substr(0, end);
    const std::size_t cut = path.rfind('\\');
    sqlite3_stmt* s = BoundTo(c, kInsertKey, root, path);
    Bind(s, 3, cut == std::string_view::npos ? std::string_view() : path.substr(0, cut));
    Bind(s, 4, cut == std::string_view::npos ? path : path.substr(cut + 1));
    if (RegistryStatus st = c->Run(s); st != RegistryStatus::kOk) return st;
  }
  return RegistryStatus::kOk;
}

// Inside a transaction: stores a value (and its key when new); `added` tells
// whether the name is new.
RegistryStatus PutValue(Connection* c, RegistryRoot root, std::string_view key, std::string_view name,
                        std::uint32_t type, std::string_view data, bool* added) {
  for (Statement which : {kUpdateValue, kInsertValue}) {
    if (which == kInsertValue) {
      if (RegistryStatus st = EnsureKey(c, root, key); st != RegistryStatus::kOk) return st;
    }
    sqlite3_stmt* s = BoundTo(c, which, root, key, name);
    sqlite3_bind_int64(s, 4, type);
    sqlite3_bind_blob(s, 5, data.empty() ? "" : data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    if (RegistryStatus st = c->Run(s); st != RegistryStatus::kOk) return st;
    if (sqlite3_changes(c->db()) > 0) {
      *added = which == kInsertValue;
      return RegistryStatus::kOk;
    }
  }
  return RegistryStatus::kFailed;
}

RegistryStatus Connection::Import() {
  Transaction t(this);
  if (t.status() != RegistryStatus::kOk) return t.status();
  // A marker: the tree was imported (by another process, say) and waits only to be moved aside.
  sqlite3_stmt* marker = nullptr;
  bool done = false;
  if (sqlite3_prepare_v2(db_, "SELECT 1 FROM meta WHERE name='folder store imported'", -1, &marker, nullptr) == SQLITE_OK)
    done = sqlite3_step(marker) == SQLITE_ROW;
  sqlite3_finalize(marker);
  RegistryStatus result = RegistryStatus::kOk;
  if (!done) {
    folder_registry::Visitor visit;
    visit.key = [&](RegistryRoot root, const std::string& key) {
      if (result == RegistryStatus::kOk) result = EnsureKey(this, root, key);
    };
    visit.value = [&](RegistryRoot root, const std::string& key, const std::string& name, const RegistryData& v) {
      bool added = false;
      if (result == RegistryStatus::kOk) result = PutValue(this, root, key, name, v.type, v.data, &added);
    };
    visit.damaged = [&](const std::string& file) {
      std::fprintf(stderr, "olvex: %s is damaged and was not imported (the old store is kept)\n", file.c_str());
    };
    folder_registry::Walk(folder_, visit);
    if (result == RegistryStatus::kOk)
      result = Check(sqlite3_exec(db_, "INSERT OR REPLACE INTO meta(name, value) VALUES('folder store imported', '1')",
                                  nullptr, nullptr, nullptr));
  }
  result = t.Commit(result);
  if (result != RegistryStatus::kOk) return result;
  ++g_name_changes;
  MoveFolderStoreAside();
  return RegistryStatus::kOk;
}

void Connection::MoveFolderStoreAside() {
  std::string aside;
  for (int n = 1; n < 100; ++n) {
    aside = folder_ + "/" + kImportedFolder + (n == 1 ? "" : "-" + std::to_string(n));
    if (::mkdir(aside.c_str(), 0700) == 0) break;
    if (errno != EEXIST) return;
  }
  for (const std::string& root : folder_registry::RootFolders(folder_))
    ::rename(root.c_str(), (aside + root.substr(root.rfind('/'))).c_str());
  ::rmdir(aside.c_str());  // left empty when another process moved the folders first
}

}  // namespace

std::string RegistryProblem() { return t_problem; }

RegistryReadScope::RegistryReadScope() {
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (c && c->OpenScope()) connection_ = c->serial();
}

RegistryReadScope::~RegistryReadScope() {
  // Nothing when the thread moved to another store meanwhile.
  if (connection_ != 0 && t_connection && t_connection->serial() == connection_) t_connection->CloseScope();
}

std::optional<RegistryNamesMark> CurrentRegistryNamesMark() {
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return std::nullopt;
  if (!c->InTransaction() && c->Fresh() && c->version())
    return RegistryNamesMark{c->serial(), *c->version(), g_name_changes.load()};
  sqlite3_stmt* s = c->Get(kDataVersion);
  if (sqlite3_step(s) != SQLITE_ROW) {
    sqlite3_reset(s);
    return std::nullopt;
  }
  RegistryNamesMark mark{c->serial(), static_cast<std::uint64_t>(sqlite3_column_int64(s, 0)), g_name_changes.load()};
  sqlite3_reset(s);
  return mark;
}

RegistryStatus ReadRegistryValue(RegistryRoot root, std::string_view key, std::string_view name, RegistryData* out) {
  RegistryStatus status = CheckValuePath(key, name);
  Connection* c = status == RegistryStatus::kOk ? Connect(&status) : nullptr;
  if (!c) return status;
  if (c->Fresh()) {
    if (const ValueCache::Entry* hit = c->Cached(root, key, name)) {
      if (!hit->exists) return RegistryStatus::kNotFound;
      if (out) *out = hit->value;
      return RegistryStatus::kOk;
    }
  }
  c->BeginScopeReads();
  sqlite3_stmt* s = BoundTo(c, kReadValue, root, key, name);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    RegistryData v{static_cast<std::uint32_t>(sqlite3_column_int64(s, 0)), ColumnText(s, 1)};
    sqlite3_reset(s);
    c->Remember(root, key, name, &v);
    if (out) *out = std::move(v);
    return RegistryStatus::kOk;
  }
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) return c->Check(rc);
  c->Remember(root, key, name, nullptr);
  return RegistryStatus::kNotFound;
}

RegistryStatus WriteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t type,
                                  std::string_view data) {
  RegistryStatus status = CheckValuePath(key, name);
  if (status == RegistryStatus::kOk && data.size() > ValueLimit()) return RegistryStatus::kRefused;
  Connection* c = status == RegistryStatus::kOk ? Connect(&status) : nullptr;
  if (!c) return status;
  if (c->Holds(root, key, name, type, data)) return RegistryStatus::kOk;
  const RegistryData written{type, std::string(data)};
  // A value that exists already: one statement, a transaction of its own.
  c->EndReadTransaction();
  sqlite3_stmt* s = BoundTo(c, kUpdateValue, root, key, name);
  sqlite3_bind_int64(s, 4, type);
  sqlite3_bind_blob(s, 5, data.empty() ? "" : data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
  status = c->Run(s);
  if (status == RegistryStatus::kOk && sqlite3_changes(c->db()) > 0) {
    c->Changed(root, key, name, &written, 1);
    return status;
  }
  if (status == RegistryStatus::kOk) {
    // A new one, with its key and the parents it lacks.
    Transaction t(c);
    if (t.status() != RegistryStatus::kOk) return t.status();
    bool added = false;
    status = t.Commit(PutValue(c, root, key, name, type, data, &added));
    if (status == RegistryStatus::kOk && added) ++g_name_changes;
  }
  if (status == RegistryStatus::kOk) c->Changed(root, key, name, &written, -1);
  else c->ChangedSeveral();
  return status;
}

RegistryStatus DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name) {
  RegistryStatus status = CheckValuePath(key, name);
  Connection* c = status == RegistryStatus::kOk ? Connect(&status) : nullptr;
  if (!c) return status;
  c->EndReadTransaction();
  if (status = c->Run(BoundTo(c, kDeleteValue, root, key, name)); status != RegistryStatus::kOk) {
    c->ChangedSeveral();
    return status;
  }
  const bool deleted = sqlite3_changes(c->db()) > 0;
  c->Changed(root, key, name, nullptr, deleted ? 1 : 0);
  if (!deleted) return RegistryStatus::kNotFound;
  ++g_name_changes;
  return RegistryStatus::kOk;
}

bool RegistryKeyExists(RegistryRoot root, std::string_view key) {
  if (CheckKey(key) != RegistryStatus::kOk) return false;
  if (key.empty()) return true;
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return false;
  c->BeginScopeReads();
  return KeyExistsIn(c, root, key);
}

RegistryStatus CreateRegistryKey(RegistryRoot root, std::string_view key) {
  if (RegistryStatus st = CheckKey(key); st != RegistryStatus::kOk) return st;
  if (key.empty()) return RegistryStatus::kOk;
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return status;
  Transaction t(c);
  if (t.status() != RegistryStatus::kOk) return t.status();
  status = t.Commit(EnsureKey(c, root, key));
  c->ChangedKeys();
  return status;
}

RegistryStatus DeleteRegistryKey(RegistryRoot root, std::string_view key) {
  if (RegistryStatus st = CheckKey(key); st != RegistryStatus::kOk) return st;
  if (key.empty()) return RegistryStatus::kAccessDenied;
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return status;
  Transaction t(c);
  if (t.status() != RegistryStatus::kOk) return t.status();
  if (!KeyExistsIn(c, root, key)) return t.Commit(RegistryStatus::kNotFound);
  for (Statement which : {kDeleteTreeValues, kDeleteTreeKeys}) {
    if (status = c->Run(BoundTo(c, which, root, key)); status != RegistryStatus::kOk) break;
  }
  status = t.Commit(status);
  c->ChangedSeveral();
  if (status == RegistryStatus::kOk) ++g_name_changes;
  return status;
}

namespace {
RegistryStatus ListNames(Statement which, RegistryRoot root, std::string_view key, std::vector<std::string>* names) {
  names->clear();
  if (RegistryStatus st = CheckKey(key); st != RegistryStatus::kOk) return st;
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return status;
  c->BeginScopeReads();
  if (!KeyExistsIn(c, root, key)) return RegistryStatus::kNotFound;
  sqlite3_stmt* s = BoundTo(c, which, root, key);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) names->push_back(ColumnText(s, 0));
  sqlite3_reset(s);
  return rc == SQLITE_DONE ? RegistryStatus::kOk : c->Check(rc);
}

std::optional<std::size_t> CountNames(Statement which, RegistryRoot root, std::string_view key) {
  if (CheckKey(key) != RegistryStatus::kOk) return std::nullopt;
  RegistryStatus status = RegistryStatus::kOk;
  Connection* c = Connect(&status);
  if (!c) return std::nullopt;
  c->BeginScopeReads();
  if (!KeyExistsIn(c, root, key)) return std::nullopt;
  sqlite3_stmt* s = BoundTo(c, which, root, key);
  std::optional<std::size_t> count;
  if (sqlite3_step(s) == SQLITE_ROW) count = static_cast<std::size_t>(sqlite3_column_int64(s, 0));
  sqlite3_reset(s);
  return count;
}
}  // namespace

RegistryStatus ListRegistryValues(RegistryRoot root, std::string_view key, std::vector<std::string>* names) {
  return ListNames(kListValues, root, key, names);
}
RegistryStatus ListRegistrySubkeys(RegistryRoot root, std::string_view key, std::vector<std::string>* names) {
  return ListNames(kListSubkeys, root, key, names);
}
std::optional<std::size_t> CountRegistryValues(RegistryRoot root, std::string_view key) {
  return CountNames(kCountValues, root, key);
}
std::optional<std::size_t> CountRegistrySubkeys(RegistryRoot root, std::string_view key) {
  return CountNames(kCountSubkeys, root, key);
}

std::string RegistryLocation() { return StoreFolder(); }

}  // namespace platform
