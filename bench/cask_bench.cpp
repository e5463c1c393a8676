// The key-value store against LMDB, LevelDB, RocksDB and SQLite on the same
// workloads, at equal durability, printing ops/s, p99 latency, file size and
// the ratio of each engine's ops/s to the best peer's.
//
// Durability levels:
//   crash-safe  survives a process crash: this store as it is (writes land in
//               a shared mapping), LMDB MDB_NOSYNC, LevelDB and RocksDB with
//               their log and sync off, SQLite WAL with synchronous=NORMAL.
//   synced      survives power loss per write: this store with sync() after
//               every write, LMDB default, LevelDB and RocksDB sync=true,
//               SQLite WAL with synchronous=FULL.
//
//   build/dev/bench/cask_bench [--scale=1.0] [--dir=/tmp]
#include <fcntl.h>
#include <lmdb.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <leveldb/db.h>
#include <leveldb/write_batch.h>
#include <rocksdb/db.h>
#include <rocksdb/options.h>

#include "cask/cask.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

enum class Durability { CrashSafe, Synced };
enum class ValueKind { Int64, Small, Large };

std::string g_root = "/tmp";
double g_scale = 1.0;

size_t scaled(size_t n) { return std::max<size_t>(1, static_cast<size_t>(static_cast<double>(n) * g_scale)); }

std::string keyOf(size_t i) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "key%09zu", i);
  return buffer;
}

std::string valueOf(ValueKind kind, size_t seed) {
  if (kind == ValueKind::Int64) {
    const auto v = static_cast<int64_t>(seed * 2654435761u);
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
  }
  const size_t size = kind == ValueKind::Small ? 32 : 1024;
  std::string value(size, '\0');
  uint64_t x = seed * 0x9e3779b97f4a7c15ull + 1;
  for (char& c : value) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>('!' + x % 90);  // incompressible enough, printable
  }
  return value;
}

// One engine behind the common verbs. Values are byte strings; this store
// keeps int64 values as its own int64 type.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual bool open(const std::string& dir, Durability durability) = 0;
  virtual void close() = 0;
  virtual bool put(const std::string& key, const std::string& value, ValueKind kind) = 0;
  virtual bool get(const std::string& key, ValueKind kind, std::string& out) = 0;
  virtual bool remove(const std::string& key) = 0;
};

// --- this store ------------------------------------------------------------

class CaskEngine final : public Engine {
 public:
  CaskEngine(int mode, std::string cryptKey) : mode_(mode), key_(std::move(cryptKey)) {}
  bool open(const std::string& dir, Durability durability) override {
    synced_ = durability == Durability::Synced;
    dir_ = dir;
    cask::Cask::initializeCask(dir, cask::CaskLogNone);
    store_ = cask::Cask::caskWithID("bench", mode_, key_.empty() ? nullptr : &key_, &dir_);
    return store_ != nullptr;
  }
  void close() override {
    if (store_ != nullptr) store_->close();
    store_ = nullptr;
  }
  bool put(const std::string& key, const std::string& value, ValueKind kind) override {
    bool ok;
    if (kind == ValueKind::Int64) {
      int64_t v;
      std::memcpy(&v, value.data(), sizeof v);
      ok = store_->set(v, key);
    } else {
      ok = store_->set(std::string_view(value), key);
    }
    if (synced_) store_->sync(cask::CaskSync);
    return ok;
  }
  bool get(const std::string& key, ValueKind kind, std::string& out) override {
    if (kind == ValueKind::Int64) {
      bool has = false;
      const int64_t v = store_->getInt64(key, 0, &has);
      out.assign(reinterpret_cast<const char*>(&v), sizeof v);
      return has;
    }
    auto value = store_->getString(key);
    if (!value) return false;
    out = std::move(*value);
    return true;
  }
  bool remove(const std::string& key) override {
    store_->removeValueForKey(key);
    if (synced_) store_->sync(cask::CaskSync);
    return true;
  }

 private:
  int mode_;
  std::string key_;
  std::string dir_;
  bool synced_ = false;
  cask::Cask* store_ = nullptr;
};

// --- LMDB ------------------------------------------------------------------------

class LmdbEngine final : public Engine {
 public:
  bool open(const std::string& dir, Durability durability) override {
    if (mdb_env_create(&env_) != 0) return false;
    mdb_env_set_mapsize(env_, size_t{4} << 30);
    const unsigned flags = durability == Durability::CrashSafe ? MDB_NOSYNC : 0;
    if (mdb_env_open(env_, dir.c_str(), flags, 0644) != 0) return false;
    MDB_txn* txn;
    mdb_txn_begin(env_, nullptr, 0, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi_);
    mdb_txn_commit(txn);
    mdb_txn_begin(env_, nullptr, MDB_RDONLY, &read_);
    mdb_txn_reset(read_);
    return true;
  }
  void close() override {
    if (read_ != nullptr) mdb_txn_abort(read_);
    read_ = nullptr;
    if (env_ != nullptr) mdb_env_close(env_);
    env_ = nullptr;
  }
  bool put(const std::string& key, const std::string& value, ValueKind) override {
    MDB_txn* txn;
    if (mdb_txn_begin(env_, nullptr, 0, &txn) != 0) return false;
    MDB_val k{key.size(), const_cast<char*>(key.data())};
    MDB_val v{value.size(), const_cast<char*>(value.data())};
    if (mdb_put(txn, dbi_, &k, &v, 0) != 0) {
      mdb_txn_abort(txn);
      return false;
    }
    return mdb_txn_commit(txn) == 0;
  }
  bool get(const std::string& key, ValueKind, std::string& out) override {
    // A reset read transaction renewed per lookup: LMDB's cheapest read.
    mdb_txn_renew(read_);
    MDB_val k{key.size(), const_cast<char*>(key.data())};
    MDB_val v;
    const bool found = mdb_get(read_, dbi_, &k, &v) == 0;
    if (found) out.assign(static_cast<const char*>(v.mv_data), v.mv_size);
    mdb_txn_reset(read_);
    return found;
  }
  bool remove(const std::string& key) override {
    MDB_txn* txn;
    if (mdb_txn_begin(env_, nullptr, 0, &txn) != 0) return false;
    MDB_val k{key.size(), const_cast<char*>(key.data())};
    mdb_del(txn, dbi_, &k, nullptr);
    return mdb_txn_commit(txn) == 0;
  }

 private:
  MDB_env* env_ = nullptr;
  MDB_dbi dbi_ = 0;
  MDB_txn* read_ = nullptr;
};

// --- LevelDB and RocksDB -----------------------------------------------------------

// RocksDB keeps LevelDB's API, so one engine serves both.
template <typename DB, typename Options, typename ReadOptions, typename WriteOptions>
class SortedTableEngine final : public Engine {
 public:
  bool open(const std::string& dir, Durability durability) override {
    Options options;
    options.create_if_missing = true;
    write_.sync = durability == Durability::Synced;
    DB* db = nullptr;
    if (!DB::Open(options, dir, &db).ok()) return false;
    db_.reset(db);
    return true;
  }
  void close() override { db_.reset(); }
  bool put(const std::string& key, const std::string& value, ValueKind) override {
    return db_->Put(write_, key, value).ok();
  }
  bool get(const std::string& key, ValueKind, std::string& out) override {
    return db_->Get(ReadOptions(), key, &out).ok();
  }
  bool remove(const std::string& key) override { return db_->Delete(write_, key).ok(); }

 private:
  std::unique_ptr<DB> db_;
  WriteOptions write_;
};

using LevelDbEngine =
    SortedTableEngine<leveldb::DB, leveldb::Options, leveldb::ReadOptions, leveldb::WriteOptions>;
using RocksDbEngine =
    SortedTableEngine<rocksdb::DB, rocksdb::Options, rocksdb::ReadOptions, rocksdb::WriteOptions>;

// --- SQLite -------------------------------------------------------------------------------

class SqliteEngine final : public Engine {
 public:
  bool open(const std::string& dir, Durability durability) override {
    if (sqlite3_open((dir + "/bench.db").c_str(), &db_) != SQLITE_OK) return false;
    const std::string pragmas = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                                (durability == Durability::Synced ? "FULL" : "NORMAL") +
                                "; PRAGMA busy_timeout=60000;"
                                "CREATE TABLE IF NOT EXISTS kv(k TEXT PRIMARY KEY, v BLOB) WITHOUT ROWID;";
    if (sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
    return sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO kv(k, v) VALUES(?, ?)", -1, &put_, nullptr) ==
               SQLITE_OK &&
           sqlite3_prepare_v2(db_, "SELECT v FROM kv WHERE k = ?", -1, &get_, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v2(db_, "DELETE FROM kv WHERE k = ?", -1, &del_, nullptr) == SQLITE_OK;
  }
  void close() override {
    for (sqlite3_stmt* s : {put_, get_, del_}) sqlite3_finalize(s);
    put_ = get_ = del_ = nullptr;
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = nullptr;
  }
  bool put(const std::string& key, const std::string& value, ValueKind) override {
    sqlite3_bind_text(put_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(put_, 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(put_) == SQLITE_DONE;
    sqlite3_reset(put_);
    return ok;
  }
  bool get(const std::string& key, ValueKind, std::string& out) override {
    sqlite3_bind_text(get_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    const bool found = sqlite3_step(get_) == SQLITE_ROW;
    if (found) {
      out.assign(static_cast<const char*>(sqlite3_column_blob(get_, 0)),
                 static_cast<size_t>(sqlite3_column_bytes(get_, 0)));
    }
    sqlite3_reset(get_);
    return found;
  }
  bool remove(const std::string& key) override {
    sqlite3_bind_text(del_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(del_) == SQLITE_DONE;
    sqlite3_reset(del_);
    return ok;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* put_ = nullptr;
  sqlite3_stmt* get_ = nullptr;
  sqlite3_stmt* del_ = nullptr;
};

// --- measuring -------------------------------------------------------------------------------

struct Result {
  std::string engine;
  double opsPerSecond = 0;
  double p99Micros = 0;
  uint64_t fileBytes = 0;
  size_t failures = 0;
};

class Recorder {
 public:
  explicit Recorder(size_t expected) { samples_.reserve(expected); }
  template <typename Op>
  void time(Op&& op) {
    const auto start = Clock::now();
    if (!op()) ++failures_;
    samples_.push_back(static_cast<uint32_t>(
        std::min<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count(),
                          UINT32_MAX)));
  }
  [[nodiscard]] double p99Micros() {
    if (samples_.empty()) return 0;
    const size_t index = samples_.size() * 99 / 100;
    std::nth_element(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(index), samples_.end());
    return samples_[index] / 1000.0;
  }
  [[nodiscard]] size_t failures() const { return failures_; }
  [[nodiscard]] size_t count() const { return samples_.size(); }

 private:
  std::vector<uint32_t> samples_;
  size_t failures_ = 0;
};

uint64_t directoryBytes(const std::string& dir) {
  uint64_t total = 0;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (entry.is_regular_file(ec)) total += entry.file_size(ec);
  }
  return total;
}

using EngineFactory = std::function<std::unique_ptr<Engine>()>;

struct EngineEntry {
  std::string name;
  EngineFactory make;
  bool isCask;
};

std::string freshDir(const std::string& name) {
  static int counter = 0;
  const std::string dir = g_root + "/cask_bench_" + std::to_string(getpid()) + "/" + name + "_" +
                          std::to_string(counter++);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Takes the figures of a finished workload, then removes its files.
void finish(Result& result, Recorder& recorder, double seconds, const std::string& dir) {
  result.opsPerSecond = static_cast<double>(recorder.count()) / seconds;
  result.p99Micros = recorder.p99Micros();
  result.failures = recorder.failures();
  result.fileBytes = directoryBytes(dir);
  fs::remove_all(dir);
}

// prepare: fills the engine untimed. body: the timed operations.
Result run(const EngineEntry& entry, Durability durability, const std::function<void(Engine&)>& prepare,
           const std::function<void(Engine&, Recorder&)>& body, size_t expectedOps) {
  Result result;
  result.engine = entry.name;
  const std::string dir = freshDir(entry.name);
  auto engine = entry.make();
  if (!engine->open(dir, durability)) {
    std::fprintf(stderr, "%s: cannot open\n", entry.name.c_str());
    return result;
  }
  if (prepare) prepare(*engine);
  Recorder recorder(expectedOps);
  const auto start = Clock::now();
  body(*engine, recorder);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  engine->close();
  finish(result, recorder, seconds, dir);
  return result;
}

void print(const std::string& title, const std::vector<Result>& results, const std::vector<EngineEntry>& engines) {
  double bestPeer = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (!engines[i].isCask) bestPeer = std::max(bestPeer, results[i].opsPerSecond);
  }
  std::printf("\n%s\n", title.c_str());
  std::printf("  %-16s %14s %11s %12s %14s\n", "engine", "ops/s", "p99 us", "file MiB", "vs best peer");
  for (const Result& r : results) {
    std::printf("  %-16s %14.0f %11.2f %12.2f %13.2fx%s\n", r.engine.c_str(), r.opsPerSecond, r.p99Micros,
                static_cast<double>(r.fileBytes) / (1 << 20), bestPeer > 0 ? r.opsPerSecond / bestPeer : 0,
                r.failures > 0 ? "  (failures!)" : "");
  }
  std::fflush(stdout);
}

std::vector<size_t> shuffled(size_t n, uint32_t seed) {
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  return order;
}

void fillAll(Engine& engine, size_t keys, ValueKind kind) {
  for (size_t i = 0; i < keys; ++i) engine.put(keyOf(i), valueOf(kind, i), kind);
}

void runSuite(const std::vector<EngineEntry>& engines, Durability durability, size_t fillKeys, size_t hotOps,
              size_t getOps, size_t mixOps, size_t churnOps) {
  const char* level = durability == Durability::Synced ? "synced" : "crash-safe";
  auto each = [&](const std::string& title, const std::function<void(Engine&)>& prepare,
                  const std::function<void(Engine&, Recorder&)>& body, size_t ops) {
    std::vector<Result> results;
    for (const EngineEntry& entry : engines) results.push_back(run(entry, durability, prepare, body, ops));
    print(title + " [" + level + "]", results, engines);
  };

  const std::pair<ValueKind, const char*> kinds[] = {
      {ValueKind::Int64, "int64"}, {ValueKind::Small, "32 B"}, {ValueKind::Large, "1 KiB"}};
  for (const auto& [kind, name] : kinds) {
    const auto order = shuffled(fillKeys, 1);
    each("fill " + std::to_string(fillKeys) + " keys, " + name + " values", nullptr,
         [&, kind = kind](Engine& e, Recorder& rec) {
           for (size_t i : order) {
             const std::string key = keyOf(i);
             const std::string value = valueOf(kind, i);
             rec.time([&] { return e.put(key, value, kind); });
           }
         },
         fillKeys);
  }

  each(std::to_string(hotOps) + " overwrites of 1000 hot keys, 32 B", nullptr,
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(2);
         for (size_t i = 0; i < hotOps; ++i) {
           const std::string key = keyOf(random() % 1000);
           const std::string value = valueOf(ValueKind::Small, i);
           rec.time([&] { return e.put(key, value, ValueKind::Small); });
         }
       },
       hotOps);

  if (getOps > 0) {
    each(std::to_string(getOps) + " random gets over " + std::to_string(fillKeys) + " keys, 32 B",
         [&](Engine& e) { fillAll(e, fillKeys, ValueKind::Small); },
         [&](Engine& e, Recorder& rec) {
           std::mt19937 random(3);
           std::string out;
           for (size_t i = 0; i < getOps; ++i) {
             const std::string key = keyOf(random() % fillKeys);
             rec.time([&] { return e.get(key, ValueKind::Small, out); });
           }
         },
         getOps);
  }

  each(std::to_string(mixOps) + " ops 90% get / 10% set over " + std::to_string(fillKeys) + " keys",
       [&](Engine& e) { fillAll(e, fillKeys, ValueKind::Small); },
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(4);
         std::string out;
         for (size_t i = 0; i < mixOps; ++i) {
           const std::string key = keyOf(random() % fillKeys);
           if (random() % 10 == 0) {
             const std::string value = valueOf(ValueKind::Small, i);
             rec.time([&] { return e.put(key, value, ValueKind::Small); });
           } else {
             rec.time([&] { return e.get(key, ValueKind::Small, out); });
           }
         }
       },
       mixOps);

  each(std::to_string(churnOps) + " set/remove churn over 10000 keys, 32 B", nullptr,
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(5);
         for (size_t i = 0; i < churnOps; ++i) {
           const std::string key = keyOf(random() % 10000);
           if (i % 2 == 0) {
             const std::string value = valueOf(ValueKind::Small, i);
             rec.time([&] { return e.put(key, value, ValueKind::Small); });
           } else {
             rec.time([&] { return e.remove(key); });
           }
         }
       },
       churnOps);
}

// Creates a crash-safe store in `dir` holding `keys` small values, untimed.
void createStore(const EngineEntry& entry, const std::string& dir, size_t keys) {
  auto engine = entry.make();
  engine->open(dir, Durability::CrashSafe);
  fillAll(*engine, keys, ValueKind::Small);
  engine->close();
}

// Opens a store of `keys` keys and reads one value, `rounds` times.
void coldOpen(const std::vector<EngineEntry>& engines, size_t keys, size_t rounds) {
  std::vector<Result> results;
  for (const EngineEntry& entry : engines) {
    Result result;
    result.engine = entry.name;
    const std::string dir = freshDir(entry.name);
    createStore(entry, dir, keys);
    Recorder recorder(rounds);
    const auto start = Clock::now();
    for (size_t r = 0; r < rounds; ++r) {
      recorder.time([&] {
        auto engine = entry.make();
        std::string out;
        const bool ok = engine->open(dir, Durability::CrashSafe) && engine->get(keyOf(keys / 2), ValueKind::Small, out);
        engine->close();
        return ok;
      });
    }
    finish(result, recorder, std::chrono::duration<double>(Clock::now() - start).count(), dir);
    results.push_back(result);
  }
  print("open a " + std::to_string(keys) + "-key store and read one value (opens/s) [crash-safe]", results,
        engines);
}

// `writers` processes each write `perWriter` keys of their own into one
// shared store; ops/s is over all of them, p99 the worst writer's.
void multiProcess(const std::vector<EngineEntry>& engines, size_t writers, size_t perWriter) {
  std::vector<Result> results;
  for (const EngineEntry& entry : engines) {
    Result result;
    result.engine = entry.name;
    const std::string dir = freshDir(entry.name);
    // Create the files once so the writers only open them.
    createStore(entry, dir, 0);
    std::vector<std::pair<pid_t, int>> children;
    const auto start = Clock::now();
    for (size_t w = 0; w < writers; ++w) {
      int pipeFds[2];
      if (pipe(pipeFds) != 0) return;
      const pid_t pid = fork();
      if (pid == 0) {
        ::close(pipeFds[0]);
        auto engine = entry.make();
        double p99 = -1;
        size_t failures = 0;
        if (engine->open(dir, Durability::CrashSafe)) {
          Recorder recorder(perWriter);
          for (size_t i = 0; i < perWriter; ++i) {
            const std::string key = keyOf(w * perWriter + i);
            const std::string value = valueOf(ValueKind::Small, i);
            recorder.time([&] { return engine->put(key, value, ValueKind::Small); });
          }
          engine->close();
          p99 = recorder.p99Micros();
          failures = recorder.failures();
        }
        double message[2] = {p99, static_cast<double>(failures)};
        (void)!write(pipeFds[1], message, sizeof message);
        _exit(0);
      }
      ::close(pipeFds[1]);
      children.emplace_back(pid, pipeFds[0]);
    }
    for (auto& [pid, fd] : children) {
      double message[2] = {-1, 0};
      (void)!read(fd, message, sizeof message);
      ::close(fd);
      waitpid(pid, nullptr, 0);
      result.p99Micros = std::max(result.p99Micros, message[0]);
      result.failures += static_cast<size_t>(message[1]) + (message[0] < 0 ? 1 : 0);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.opsPerSecond = static_cast<double>(writers * perWriter) / seconds;
    // Check that every writer's keys arrived.
    auto engine = entry.make();
    engine->open(dir, Durability::CrashSafe);
    std::string out;
    for (size_t i = 0; i < writers * perWriter; ++i) {
      if (!engine->get(keyOf(i), ValueKind::Small, out)) ++result.failures;
    }
    engine->close();
    result.fileBytes = directoryBytes(dir);
    fs::remove_all(dir);
    results.push_back(result);
  }
  print(std::to_string(writers) + " writer processes x " + std::to_string(perWriter) + " sets, 32 B [crash-safe]",
        results, engines);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--scale=", 0) == 0) g_scale = std::stod(arg.substr(8));
    if (arg.rfind("--dir=", 0) == 0) g_root = arg.substr(6);
  }
  const std::string key = "bench-crypt-key!";
  const EngineEntry cask{"cask", [] { return std::make_unique<CaskEngine>(cask::CaskSingleProcess, ""); }, true};
  const EngineEntry caskMulti{"cask multi-proc",
                              [] { return std::make_unique<CaskEngine>(cask::CaskMultiProcess, ""); }, true};
  const EngineEntry caskCrypt{"cask encrypted", [key] { return std::make_unique<CaskEngine>(cask::CaskSingleProcess, key); },
                              true};
  const EngineEntry lmdb{"lmdb", [] { return std::make_unique<LmdbEngine>(); }, false};
  const EngineEntry leveldb{"leveldb", [] { return std::make_unique<LevelDbEngine>(); }, false};
  const EngineEntry rocksdb{"rocksdb", [] { return std::make_unique<RocksDbEngine>(); }, false};
  const EngineEntry sqlite{"sqlite", [] { return std::make_unique<SqliteEngine>(); }, false};
  const std::vector<EngineEntry> all{cask, caskCrypt, lmdb, leveldb, rocksdb, sqlite};

  std::printf("cask %s, page size %zu, scale %.2f; ratios are ops/s against the fastest of lmdb, leveldb, "
              "rocksdb and sqlite\n",
              cask::version(), cask::Cask::pageSize(), g_scale);
  runSuite(all, Durability::CrashSafe, scaled(100000), scaled(1000000), scaled(1000000), scaled(1000000),
           scaled(200000));
  // Every write waits for the disk: far fewer operations.
  runSuite(all, Durability::Synced, scaled(2000), scaled(2000), 0, scaled(20000), scaled(2000));
  coldOpen(all, scaled(100000), 20);
  multiProcess({caskMulti, lmdb, sqlite}, 4, scaled(25000));
  fs::remove_all(g_root + "/cask_bench_" + std::to_string(getpid()));
  return 0;
}
