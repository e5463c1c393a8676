// The key-value store against LMDB, LevelDB, RocksDB and SQLite on the same
// workloads and the same bytes, printing ops/s, p99 latency, the files' size
// after the workload, and the ratio of each engine's ops/s to the best peer's
// and to LMDB with a writable map. A summary at the end sets the ratios that
// matter against their targets.
//
// Every workload runs --runs times (default 5), the engines taking turns in
// each round so that a change in the machine's load weighs on all of them.
// Figures are medians with the spread of the runs (min..max); ratios are of
// medians, and a ratio whose two spreads overlap prints as "~1x". Each table
// names the load average (1, 5, 15 minutes) before and after it.
//
// Every engine stores the same key and value bytes: keys "key%09zu"; values of
// 8 raw bytes ("int64": setRaw here, no varint), 32 B or 1 KiB (set() of a
// string here, which adds the store's one- or two-byte length prefix).
// Keys and 4096 values of each size are made before the timed loops and
// reused in turn, so that ops/s counts the engines' work only.
//
// Peers, exactly as configured below:
//   lmdb         mdb_env_set_mapsize 4 GiB; crash-safe: MDB_NOSYNC, synced: no
//                flags; one write transaction per put/remove; gets renew one
//                reset read-only transaction.
//   lmdb-wm      the same with MDB_WRITEMAP (crash-safe: MDB_WRITEMAP |
//                MDB_NOSYNC, synced: MDB_WRITEMAP).
//   leveldb      Options: create_if_missing, everything else default (its
//                write-ahead log stays on); WriteOptions.sync = false
//                (crash-safe) or true (synced); default ReadOptions.
//   rocksdb      the same options as leveldb.
//   sqlite       one table kv(k TEXT PRIMARY KEY, v BLOB) WITHOUT ROWID,
//                journal_mode=WAL, synchronous=NORMAL (crash-safe) or FULL
//                (synced), prepared statements, one implicit transaction per
//                statement.
// This store:
//   cask         single-process, plain; synced: sync(CaskSync) after every
//                write; reads copy the value into a reused buffer
//                (writeValueToBuffer), as every peer's read fills a reused
//                string.
//   cask-crypt   the same with an AES key.
//   cask-mp      multi-process mode (flock on the meta file per operation).
//
// Durability levels:
//   crash-safe  survives a process crash: everything reaches the page cache
//               before the call returns.
//   synced      survives power loss per write.
//
// Opens of a closed 100k-key store, each followed by one read, files in the
// page cache: "open-written" is the first open in the process that wrote and
// closed the store (the median of 3 stores per run); "open-warm" a later
// open in that process (the median of 20 per run); "open-fresh" the open of
// a newly started process (this program run again with --open-child, timed
// from inside it: process start-up is not counted; the median of 9
// processes per run). "open-cold" first drops the files from the page cache
// (fsync, then posix_fadvise DONTNEED on each file of the store; the median
// of 3 per run). A single open moves by a third on a shared machine: a run's
// figure is a median of several.
//
//   build/dev/bench/cask_bench [--runs=5] [--scale=1.0] [--dir=/tmp] [--only=WORD] [--engine=NAME]...
#include <fcntl.h>
#include <lmdb.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <leveldb/db.h>
#include <leveldb/write_batch.h>
#include <rocksdb/db.h>
#include <rocksdb/options.h>

#include "bench_stats.h"
#include "cask/cask.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

enum class Durability { CrashSafe, Synced };
enum class ValueKind { Int64, Small, Large };

std::string g_root = "/tmp";
double g_scale = 1.0;
int g_runs = bench::kDefaultRuns;

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

// Keys and values made before the timed loops, so that ops/s measures the
// engines and not the making of their input.
const std::string& pooledKey(size_t i) {
  static std::vector<std::string> keys;
  while (keys.size() <= i) keys.push_back(keyOf(keys.size()));
  return keys[i];
}

void prepareKeys(size_t count) { (void)pooledKey(count - 1); }

// 4096 different values of each kind, reused in turn.
const std::string& pooledValue(ValueKind kind, size_t i) {
  static std::vector<std::string> pools[3];
  std::vector<std::string>& pool = pools[static_cast<int>(kind)];
  if (pool.empty()) {
    for (size_t seed = 0; seed < 4096; ++seed) pool.push_back(valueOf(kind, seed));
  }
  return pool[i % pool.size()];
}

// One engine behind the common verbs. Values are byte strings.
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
    // The same 8 bytes the peers store, not a varint.
    const bool ok = kind == ValueKind::Int64
                        ? store_->setRaw({reinterpret_cast<const uint8_t*>(value.data()), value.size()}, key)
                        : store_->set(std::string_view(value), key);
    if (synced_) store_->sync(cask::CaskSync);
    return ok;
  }
  bool get(const std::string& key, ValueKind kind, std::string& out) override {
    if (kind == ValueKind::Int64) {
      auto raw = store_->getRaw(key);
      if (!raw) return false;
      out.assign(raw->begin(), raw->end());
      return true;
    }
    // Like the peers, into a buffer that is reused (writeValueToBuffer).
    const int32_t length = store_->writeValueToBuffer(key, scratch_, sizeof scratch_);
    if (length < 0) return false;
    out.assign(scratch_, static_cast<size_t>(length));
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
  char scratch_[4096];
};

// --- LMDB ------------------------------------------------------------------------

class LmdbEngine final : public Engine {
 public:
  explicit LmdbEngine(bool writeMap) : writeMap_(writeMap) {}
  bool open(const std::string& dir, Durability durability) override {
    if (mdb_env_create(&env_) != 0) return false;
    mdb_env_set_mapsize(env_, size_t{4} << 30);
    unsigned flags = durability == Durability::CrashSafe ? MDB_NOSYNC : 0;
    if (writeMap_) flags |= MDB_WRITEMAP;
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
  bool writeMap_;
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

// One run of one engine on one workload.
struct Result {
  double opsPerSecond = 0;
  double p99Micros = 0;
  uint64_t fileBytes = 0;  // apparent size
  uint64_t diskBytes = 0;  // allocated blocks (sparse maps count what they use)
  size_t failures = 0;
};

// Every run of one engine on one workload.
struct Figures {
  std::string engine;
  bool isCask = false;
  std::vector<Result> runs;

  [[nodiscard]] bench::Spread ops() const {
    std::vector<double> values;
    for (const Result& r : runs) values.push_back(r.opsPerSecond);
    return bench::spreadOf(values);
  }
  [[nodiscard]] double p99Micros() const {
    std::vector<double> values;
    for (const Result& r : runs) values.push_back(r.p99Micros);
    return bench::spreadOf(values).median;
  }
  [[nodiscard]] size_t failures() const {
    size_t total = 0;
    for (const Result& r : runs) total += r.failures;
    return total;
  }
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

// The apparent and the allocated size of the files under `dir`.
void measureFiles(const std::string& dir, Result& result) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    struct stat st {};
    if (!entry.is_regular_file(ec) || stat(entry.path().c_str(), &st) != 0) continue;
    result.fileBytes += static_cast<uint64_t>(st.st_size);
    result.diskBytes += static_cast<uint64_t>(st.st_blocks) * 512;
  }
}

// Drops a closed store's files from the page cache.
void dropFromPageCache(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    fsync(fd);  // DONTNEED leaves dirty pages in place
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

using EngineFactory = std::function<std::unique_ptr<Engine>()>;

struct EngineEntry {
  std::string name;
  EngineFactory make;
  bool isCask;
};

constexpr char kWriteMapPeer[] = "lmdb-wm";

// Every printed table, kept for the summary: workload id -> figures.
std::map<std::string, std::vector<Figures>>& allFigures() {
  static std::map<std::string, std::vector<Figures>> figures;
  return figures;
}

const Figures* findFigures(const std::string& workload, const std::string& engine) {
  const auto found = allFigures().find(workload);
  if (found == allFigures().end()) return nullptr;
  for (const Figures& f : found->second) {
    if (f.engine == engine) return &f;
  }
  return nullptr;
}

// The peer (no cask engine) with the highest median, or null.
const Figures* bestPeer(const std::vector<Figures>& figures) {
  const Figures* best = nullptr;
  for (const Figures& f : figures) {
    if (!f.isCask && !f.runs.empty() && (best == nullptr || f.ops().median > best->ops().median)) best = &f;
  }
  return best;
}

std::vector<Figures> emptyFigures(const std::vector<EngineEntry>& engines) {
  std::vector<Figures> figures;
  for (const EngineEntry& entry : engines) figures.push_back({entry.name, entry.isCask, {}});
  return figures;
}

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
  measureFiles(dir, result);
  fs::remove_all(dir);
}

// prepare: fills the engine untimed. body: the timed operations.
Result run(const EngineEntry& entry, Durability durability, const std::function<void(Engine&)>& prepare,
           const std::function<void(Engine&, Recorder&)>& body, size_t expectedOps) {
  Result result;
  const std::string dir = freshDir(entry.name);
  auto engine = entry.make();
  if (!engine->open(dir, durability)) {
    std::fprintf(stderr, "%s: cannot open\n", entry.name.c_str());
    fs::remove_all(dir);
    result.failures = 1;
    return result;
  }
  if (prepare) prepare(*engine);
  Recorder recorder(expectedOps);
  const auto start = Clock::now();
  body(*engine, recorder);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The size after the workload, before closing can compact or truncate.
  engine->close();
  finish(result, recorder, seconds, dir);
  return result;
}

// Throughput tables give ops/s; open tables the milliseconds per open.
enum class Unit { OpsPerSecond, MillisPerOpen };

void print(const std::string& id, const std::string& title, std::vector<Figures> figures, Unit unit,
           const std::string& loadBefore) {
  const Figures* best = bestPeer(figures);
  const Figures* writeMap = nullptr;
  for (const Figures& f : figures) {
    if (f.engine == kWriteMapPeer) writeMap = &f;
  }
  std::printf("\n%s  (best peer: %s)\n  %d runs; load average before %s, after %s\n", title.c_str(),
              best != nullptr ? best->engine.c_str() : "-", g_runs, loadBefore.c_str(),
              bench::loadAverage().c_str());
  std::printf("  %-12s %30s %11s %10s %10s %13s %11s\n", "engine",
              unit == Unit::OpsPerSecond ? "ops/s median (min..max)" : "ms/open median (min..max)", "p99 us",
              "file MiB", "disk MiB", "vs best peer", "vs lmdb-wm");
  for (const Figures& f : figures) {
    if (f.runs.empty()) continue;
    const bench::Spread ops = f.ops();
    const bench::Spread shown =
        unit == Unit::OpsPerSecond || ops.min <= 0
            ? ops
            : bench::Spread{1000.0 / ops.median, 1000.0 / ops.max, 1000.0 / ops.min};
    const Result& last = f.runs.back();
    char p99[32] = "-";
    if (unit == Unit::OpsPerSecond) std::snprintf(p99, sizeof p99, "%.2f", f.p99Micros());
    std::printf("  %-12s %30s %11s %10.2f %10.2f %13s %11s%s\n", f.engine.c_str(),
                bench::spreadText(shown, unit == Unit::OpsPerSecond ? "%.0f" : "%.2f").c_str(), p99,
                static_cast<double>(last.fileBytes) / (1 << 20), static_cast<double>(last.diskBytes) / (1 << 20),
                best != nullptr ? bench::ratioText(ops, best->ops()).c_str() : "-",
                writeMap != nullptr ? bench::ratioText(ops, writeMap->ops()).c_str() : "-",
                f.failures() > 0 ? "  (failures!)" : "");
  }
  std::fflush(stdout);
  allFigures()[id] = std::move(figures);
}

std::vector<size_t> shuffled(size_t n, uint32_t seed) {
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  return order;
}

void fillAll(Engine& engine, size_t keys, ValueKind kind) {
  for (size_t i = 0; i < keys; ++i) engine.put(pooledKey(i), pooledValue(kind, i), kind);
}

std::string g_only;  // run only workloads whose id contains this

bool wanted(const std::string& id) { return g_only.empty() || id.find(g_only) != std::string::npos; }

std::vector<std::string> g_engines;  // run only these engines (all when empty)

std::vector<EngineEntry> selected(const std::vector<EngineEntry>& engines) {
  if (g_engines.empty()) return engines;
  std::vector<EngineEntry> chosen;
  for (const EngineEntry& entry : engines) {
    if (std::find(g_engines.begin(), g_engines.end(), entry.name) != g_engines.end()) chosen.push_back(entry);
  }
  return chosen;
}

void runSuite(const std::vector<EngineEntry>& allEngines, Durability durability, size_t fillKeys, size_t hotOps,
              size_t getOps, size_t mixOps, size_t churnOps, size_t oneKeyOps) {
  const std::vector<EngineEntry> engines = selected(allEngines);
  const std::string level = durability == Durability::Synced ? "synced" : "crash-safe";
  prepareKeys(std::max<size_t>(fillKeys, 10000));
  auto each = [&](const std::string& id, const std::string& title, const std::function<void(Engine&)>& prepare,
                  const std::function<void(Engine&, Recorder&)>& body, size_t ops) {
    const std::string fullId = level + " " + id;
    if (!wanted(fullId)) return;
    std::vector<Figures> figures = emptyFigures(engines);
    const std::string loadBefore = bench::loadAverage();
    for (int round = 0; round < g_runs; ++round) {
      for (size_t i = 0; i < engines.size(); ++i) {
        figures[i].runs.push_back(run(engines[i], durability, prepare, body, ops));
      }
    }
    print(fullId, title + " [" + level + "]", std::move(figures), Unit::OpsPerSecond, loadBefore);
  };

  const std::tuple<ValueKind, const char*, const char*> kinds[] = {
      {ValueKind::Int64, "fill-8", "8 B (int64)"}, {ValueKind::Small, "fill-32", "32 B"},
      {ValueKind::Large, "fill-1k", "1 KiB"}};
  for (const auto& [kind, id, name] : kinds) {
    const auto order = shuffled(fillKeys, 1);
    each(id, "fill " + std::to_string(fillKeys) + " keys, " + name + " values", nullptr,
         [&, kind = kind](Engine& e, Recorder& rec) {
           for (size_t i : order) {
             const std::string& key = pooledKey(i);
             const std::string& value = pooledValue(kind, i);
             rec.time([&] { return e.put(key, value, kind); });
           }
         },
         fillKeys);
  }

  each("overwrite", std::to_string(hotOps) + " overwrites of 1000 hot keys, 32 B", nullptr,
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(2);
         for (size_t i = 0; i < hotOps; ++i) {
           const std::string& key = pooledKey(random() % 1000);
           const std::string& value = pooledValue(ValueKind::Small, i);
           rec.time([&] { return e.put(key, value, ValueKind::Small); });
         }
       },
       hotOps);

  if (getOps > 0) {
    each("get", std::to_string(getOps) + " random gets over " + std::to_string(fillKeys) + " keys, 32 B",
         [&](Engine& e) { fillAll(e, fillKeys, ValueKind::Small); },
         [&](Engine& e, Recorder& rec) {
           std::mt19937 random(3);
           std::string out;
           for (size_t i = 0; i < getOps; ++i) {
             const std::string& key = pooledKey(random() % fillKeys);
             rec.time([&] { return e.get(key, ValueKind::Small, out); });
           }
         },
         getOps);
  }

  each("mix", std::to_string(mixOps) + " ops 90% get / 10% set over " + std::to_string(fillKeys) + " keys, 32 B",
       [&](Engine& e) { fillAll(e, fillKeys, ValueKind::Small); },
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(4);
         std::string out;
         for (size_t i = 0; i < mixOps; ++i) {
           const std::string& key = pooledKey(random() % fillKeys);
           if (random() % 10 == 0) {
             const std::string& value = pooledValue(ValueKind::Small, i);
             rec.time([&] { return e.put(key, value, ValueKind::Small); });
           } else {
             rec.time([&] { return e.get(key, ValueKind::Small, out); });
           }
         }
       },
       mixOps);

  each("churn", std::to_string(churnOps) + " set/remove churn over 10000 keys, 32 B", nullptr,
       [&](Engine& e, Recorder& rec) {
         std::mt19937 random(5);
         for (size_t i = 0; i < churnOps; ++i) {
           const std::string& key = pooledKey(random() % 10000);
           if (i % 2 == 0) {
             const std::string& value = pooledValue(ValueKind::Small, i);
             rec.time([&] { return e.put(key, value, ValueKind::Small); });
           } else {
             rec.time([&] { return e.remove(key); });
           }
         }
       },
       churnOps);

  // The store is empty before every put.
  each("one-key", std::to_string(oneKeyOps) + " put/remove of one key, 32 B", nullptr,
       [&](Engine& e, Recorder& rec) {
         const std::string& key = pooledKey(7);
         const std::string& value = pooledValue(ValueKind::Small, 7);
         for (size_t i = 0; i < oneKeyOps; ++i) {
           if (i % 2 == 0) {
             rec.time([&] { return e.put(key, value, ValueKind::Small); });
           } else {
             rec.time([&] { return e.remove(key); });
           }
         }
       },
       oneKeyOps);
}

// Creates a crash-safe store in `dir` holding `keys` small values, untimed.
void createStore(const EngineEntry& entry, const std::string& dir, size_t keys) {
  auto engine = entry.make();
  engine->open(dir, Durability::CrashSafe);
  fillAll(*engine, keys, ValueKind::Small);
  engine->close();
}

// Opens the store in `dir`, reads the middle one of `keys` keys and closes
// it; the seconds taken, or a negative number on failure.
double timedOpen(const EngineEntry& entry, const std::string& dir, size_t keys) {
  const auto start = Clock::now();
  auto engine = entry.make();
  std::string out;
  const bool ok = engine->open(dir, Durability::CrashSafe) && engine->get(keyOf(keys / 2), ValueKind::Small, out);
  engine->close();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ok ? seconds : -1;
}

// The same in a newly started copy of this program (--open-child), which
// times itself; its start-up is not counted.
double timedOpenInFreshProcess(const EngineEntry& entry, const std::string& dir, size_t keys) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string engineArg = "--open-child=" + entry.name;
  const std::string keysArg = std::to_string(keys);
  char self[] = "/proc/self/exe";
  char* const argv[] = {self, const_cast<char*>(engineArg.c_str()), const_cast<char*>(dir.c_str()),
                        const_cast<char*>(keysArg.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  char text[64] = {};
  size_t got = 0;
  while (spawned == 0 && got + 1 < sizeof text) {
    const ssize_t n = read(fds[0], text + got, sizeof text - 1 - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::strtod(text, nullptr);
}

// A run's figure from one open or from several (their median).
Result openResult(const std::vector<double>& seconds) {
  Result result;
  for (const double s : seconds) result.failures += s < 0 ? 1 : 0;
  if (result.failures == 0) result.opsPerSecond = 1.0 / bench::spreadOf(seconds).median;
  return result;
}

// Each run creates a store of `keys` keys per engine three times and times
// the first open in this process of each, then 20 later opens of the last,
// 9 in fresh processes and 3 with its files dropped from the page cache.
void openStore(const std::vector<EngineEntry>& allEngines, size_t keys) {
  const char* kinds[] = {"open-written", "open-warm", "open-fresh", "open-cold"};
  bool any = false;
  for (const char* kind : kinds) any = any || wanted(kind);
  if (!any) return;
  const std::vector<EngineEntry> engines = selected(allEngines);
  std::map<std::string, std::vector<Figures>> figures;
  for (const char* kind : kinds) figures[kind] = emptyFigures(engines);
  const std::string loadBefore = bench::loadAverage();
  for (int round = 0; round < g_runs; ++round) {
    for (size_t i = 0; i < engines.size(); ++i) {
      const EngineEntry& entry = engines[i];
      std::string dir;
      std::vector<double> written;
      for (int n = 0; n < 3; ++n) {
        if (!dir.empty()) fs::remove_all(dir);
        dir = freshDir(entry.name);
        createStore(entry, dir, keys);
        written.push_back(timedOpen(entry, dir, keys));
      }
      figures["open-written"][i].runs.push_back(openResult(written));
      std::vector<double> warm;
      for (int n = 0; n < 20; ++n) warm.push_back(timedOpen(entry, dir, keys));
      figures["open-warm"][i].runs.push_back(openResult(warm));
      std::vector<double> fresh;
      for (int n = 0; n < 9; ++n) fresh.push_back(timedOpenInFreshProcess(entry, dir, keys));
      figures["open-fresh"][i].runs.push_back(openResult(fresh));
      std::vector<double> cold;
      for (int n = 0; n < 3; ++n) {
        dropFromPageCache(dir);
        cold.push_back(timedOpen(entry, dir, keys));
      }
      figures["open-cold"][i].runs.push_back(openResult(cold));
      for (auto& [kind, table] : figures) measureFiles(dir, table[i].runs.back());
      fs::remove_all(dir);
    }
  }
  const std::string what = std::to_string(keys) + "-key store and one read [crash-safe]";
  const std::pair<const char*, std::string> titles[] = {
      {"open-written", "first open in the process that wrote a " + what},
      {"open-warm", "later open in the same process of a " + what},
      {"open-fresh", "open in a fresh process of a " + what},
      {"open-cold", "cold open (files dropped from the page cache) of a " + what}};
  for (const auto& [kind, title] : titles) {
    if (wanted(kind)) print(kind, title, std::move(figures[kind]), Unit::MillisPerOpen, loadBefore);
  }
}

// `writers` processes each write `perWriter` keys of their own into one
// shared store; ops/s is over all of them, p99 the worst writer's.
Result writersRun(const EngineEntry& entry, size_t writers, size_t perWriter) {
  Result result;
  const std::string dir = freshDir(entry.name);
  // Create the files once so the writers only open them.
  createStore(entry, dir, 0);
  std::vector<std::pair<pid_t, int>> children;
  const auto start = Clock::now();
  for (size_t w = 0; w < writers; ++w) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) break;
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
  result.failures += writers - children.size();
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
  measureFiles(dir, result);
  fs::remove_all(dir);
  return result;
}

void multiProcess(const std::vector<EngineEntry>& allEngines, size_t writers, size_t perWriter) {
  if (!wanted("writers")) return;
  const std::vector<EngineEntry> engines = selected(allEngines);
  std::vector<Figures> figures = emptyFigures(engines);
  const std::string loadBefore = bench::loadAverage();
  for (int round = 0; round < g_runs; ++round) {
    for (size_t i = 0; i < engines.size(); ++i) figures[i].runs.push_back(writersRun(engines[i], writers, perWriter));
  }
  print("writers", std::to_string(writers) + " writer processes x " + std::to_string(perWriter) +
                       " sets, 32 B [crash-safe]",
        std::move(figures), Unit::OpsPerSecond, loadBefore);
}

// The ratios the store is held to, from the tables above: medians, "~1x"
// where the runs of the two overlap.
void summary() {
  struct Row {
    const char* label;
    std::string workload;
    std::string engine;
    std::string against;  // a peer, "best" for the best peer, or another engine
    double target;
  };
  const Row rows[] = {
      {"fill 8 B, vs lmdb-wm", "crash-safe fill-8", "cask", kWriteMapPeer, 1.2},
      {"overwrite 1000 hot keys, vs lmdb-wm", "crash-safe overwrite", "cask", kWriteMapPeer, 0.8},
      {"90/10 mix, vs lmdb-wm", "crash-safe mix", "cask", kWriteMapPeer, 1.2},
      {"random get, vs lmdb", "crash-safe get", "cask", "lmdb", 1.2},
      {"fill 1 KiB, vs best peer", "crash-safe fill-1k", "cask", "best", 1.0},
      {"4 writer processes, vs lmdb-wm", "writers", "cask-mp", kWriteMapPeer, 1.0},
      {"gets multi-process vs single", "crash-safe get", "cask-mp", "cask", 0.8},
      {"synced fill 32 B, vs best peer", "synced fill-32", "cask", "best", 0.8},
  };
  std::printf("\nsummary: ratio of medians (target); load average now %s\n", bench::loadAverage().c_str());
  for (const Row& row : rows) {
    const Figures* mine = findFigures(row.workload, row.engine);
    const Figures* other = nullptr;
    if (row.against == "best") {
      const auto found = allFigures().find(row.workload);
      if (found != allFigures().end()) other = bestPeer(found->second);
    } else {
      other = findFigures(row.workload, row.against);
    }
    if (mine == nullptr || other == nullptr || mine->runs.empty() || other->runs.empty()) continue;
    std::printf("  %-40s %7s  (>= %.1fx)\n", row.label, bench::ratioText(mine->ops(), other->ops()).c_str(),
                row.target);
  }
  for (const char* engine : {"cask", "cask-crypt"}) {
    for (const char* id : {"open-written", "open-warm", "open-fresh", "open-cold"}) {
      const Figures* f = findFigures(id, engine);
      if (f == nullptr || f->runs.empty() || f->ops().min <= 0) continue;
      const bench::Spread ops = f->ops();
      std::printf("  %-40s %s ms\n", (std::string(id) + ", " + engine).c_str(),
                  bench::spreadText({1000.0 / ops.median, 1000.0 / ops.max, 1000.0 / ops.min}, "%.2f").c_str());
    }
  }
}

constexpr const char* kUsage =
    "usage: cask_bench [--runs=5] [--scale=1.0] [--dir=/tmp] [--only=WORD] [--engine=NAME]...\n";

int usage(const std::string& bad) {
  std::fprintf(stderr, "cask_bench: bad argument: %s\n%s", bad.c_str(), kUsage);
  return 2;
}

std::vector<EngineEntry> allEngines() {
  const std::string key = "bench-crypt-key!";
  return {
      {"cask", [] { return std::make_unique<CaskEngine>(cask::CaskSingleProcess, ""); }, true},
      {"cask-crypt", [key] { return std::make_unique<CaskEngine>(cask::CaskSingleProcess, key); }, true},
      {"cask-mp", [] { return std::make_unique<CaskEngine>(cask::CaskMultiProcess, ""); }, true},
      {"lmdb", [] { return std::make_unique<LmdbEngine>(false); }, false},
      {kWriteMapPeer, [] { return std::make_unique<LmdbEngine>(true); }, false},
      {"leveldb", [] { return std::make_unique<LevelDbEngine>(); }, false},
      {"rocksdb", [] { return std::make_unique<RocksDbEngine>(); }, false},
      {"sqlite", [] { return std::make_unique<SqliteEngine>(); }, false},
  };
}

std::vector<EngineEntry> named(const std::vector<std::string>& names) {
  std::vector<EngineEntry> chosen;
  for (const std::string& name : names) {
    for (const EngineEntry& entry : allEngines()) {
      if (entry.name == name) chosen.push_back(entry);
    }
  }
  return chosen;
}

// --open-child=ENGINE DIR KEYS: one timed open for timedOpenInFreshProcess.
int openChild(const std::string& engine, int argc, char** argv) {
  const std::vector<EngineEntry> entry = named({engine});
  if (entry.empty() || argc != 4) return 2;
  const double seconds = timedOpen(entry[0], argv[2], std::strtoul(argv[3], nullptr, 10));
  if (seconds < 0) return 1;
  std::printf("%.9f\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]).rfind("--open-child=", 0) == 0) {
    return openChild(std::string(argv[1]).substr(13), argc, argv);
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg.rfind("--scale=", 0) == 0) {
      g_scale = std::strtod(arg.c_str() + 8, &end);
      if (end == arg.c_str() + 8 || *end != '\0' || !(g_scale > 0)) return usage(arg);
    } else if (arg.rfind("--runs=", 0) == 0) {
      if (!bench::parseRuns(arg, g_runs)) return usage(arg);
    } else if (arg.rfind("--dir=", 0) == 0) {
      g_root = arg.substr(6);
    } else if (arg.rfind("--only=", 0) == 0) {
      g_only = arg.substr(7);
    } else if (arg.rfind("--engine=", 0) == 0) {
      g_engines.push_back(arg.substr(9));
      if (named({g_engines.back()}).empty()) return usage(arg);
    } else {
      return usage(arg);
    }
  }
  const std::vector<EngineEntry> all = allEngines();
  const std::vector<EngineEntry> singleProcess =
      named({"cask", "cask-crypt", "lmdb", kWriteMapPeer, "leveldb", "rocksdb", "sqlite"});

  std::printf("cask %s, page size %zu, scale %.2f, %d runs per figure; load average %s\n"
              "ratios are of median ops/s against the fastest peer (lmdb, lmdb-wm, leveldb, rocksdb, sqlite) and "
              "against lmdb-wm; \"~1x\" where the two spreads overlap\n",
              cask::version(), cask::Cask::pageSize(), g_scale, g_runs, bench::loadAverage().c_str());
  runSuite(all, Durability::CrashSafe, scaled(100000), scaled(1000000), scaled(1000000), scaled(1000000),
           scaled(200000), scaled(5000));
  // Every write waits for the disk: far fewer operations.
  runSuite(singleProcess, Durability::Synced, scaled(1000), scaled(1000), 0, scaled(5000), scaled(1000),
           scaled(1000));
  openStore(singleProcess, scaled(100000));
  multiProcess(named({"cask-mp", "lmdb", kWriteMapPeer, "sqlite"}), 4, scaled(25000));
  summary();
  std::printf("\nload average at the end %s\n", bench::loadAverage().c_str());
  fs::remove_all(g_root + "/cask_bench_" + std::to_string(getpid()));
  return 0;
}
