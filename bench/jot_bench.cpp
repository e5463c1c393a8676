// Writes the same realistic records (40-300 bytes) through the log writer and
// through spdlog and glog, and prints records/s, caller latency, CPU time,
// bytes written and records lost after SIGKILL, with ratios. Each async mode
// of the writer (deflate 9, zstd 6, zstd 3; all with a server key) is set
// against its floor: the same compressor at the same level, sync-flushed
// after each record and enciphered (TEA) under one lock, over the same
// formatted lines, with no formatting, cache or file. Every writer (and each
// floor, in turns with its writer) runs --runs times (default 5); figures are
// medians with the spread of the runs (min..max), a ratio whose two spreads
// overlap prints as "~1x", and each table names the load average before and
// after it.
//
//   jot_bench [records] [--jot] [--runs=5]
//       records: default 1,000,000; --jot runs only the writer's modes and
//       their floors (no peers, no kill runs); JOT_BENCH_DIR sets the folder
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <zlib.h>
#include <zstd.h>

#include "bench_stats.h"
#include "jot/appender.h"
#include "jot/block_reader.h"
#include "jot/jotter.h"
#include "jot/log_crypt.h"
#include "jot/log_format.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> makeMessages() {
  static const char* kWords[] = {"download", "install", "package", "md5", "ok", "failed",
                                 "retry",    "source",  "input",   "enabled", "url", "https://dl.example/q.zip",
                                 "size",     "bytes",   "version", "1.4.2",   "state", "->"};
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> len(40, 300);
  std::uniform_int_distribution<size_t> word(0, std::size(kWords) - 1);
  std::vector<std::string> messages;
  for (int i = 0; i < 4096; ++i) {
    const size_t target = static_cast<size_t>(len(rng));
    std::string m;
    while (m.size() < target) {
      m += kWords[word(rng)];
      m += rng() % 5 == 0 ? std::to_string(rng() % 100000) + " " : " ";
    }
    m.resize(target);
    messages.push_back(m);
  }
  return messages;
}

const std::vector<std::string>& messages() {
  static const std::vector<std::string> m = makeMessages();
  return m;
}

struct Writer {
  std::string name;
  std::function<void(const fs::path& dir)> open;
  std::function<void(const std::string& text)> write;
  std::function<void()> close;
  // Records with "#id#" found in dir after a kill (the writer's own recovery first).
  std::function<std::set<long>(const fs::path& dir)> recovered;
};

std::set<long> idsIn(const std::string& text) {
  std::set<long> ids;
  for (size_t pos = text.find('#'); pos != std::string::npos; pos = text.find('#', pos + 1)) {
    char* end = nullptr;
    const long id = std::strtol(text.c_str() + pos + 1, &end, 10);
    if (end && *end == '#' && end != text.c_str() + pos + 1) {
      ids.insert(id);
      pos = static_cast<size_t>(end - text.c_str());
    }
  }
  return ids;
}

std::string allText(const fs::path& dir) {
  std::string text;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return text;
}

uintmax_t bytesIn(const fs::path& dir) {
  uintmax_t total = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() != ".mmap3") total += e.file_size();
  }
  return total;
}

struct ServerKey {
  std::string pubHex;
  vela::jot::EcPrivateKey priv{};
};

// A generated pair stands in for the server's; made before any fork.
const ServerKey& serverKey() {
  static const ServerKey key = [] {
    ServerKey k;
    vela::jot::EcPublicKey pub{};
    if (!vela::jot::EcMakeKeyPair(pub, k.priv)) return k;
    static const char* d = "0123456789abcdef";
    for (uint8_t b : pub) {
      k.pubHex += d[b >> 4];
      k.pubHex += d[b & 15];
    }
    return k;
  }();
  return key;
}

void jotWrite(const std::string& text) {
  vela::jot::JotterInfo_t info;
  info.level = vela::jot::kLevelInfo;
  info.tag = "main";
  info.filename = __FILE__;
  info.func_name = "run";
  info.line = __LINE__;
  gettimeofday(&info.timeval, nullptr);
  vela::jot::jotter_Write(&info, text.c_str());
}

Writer jotWriter(const std::string& name, int32_t mode, int32_t compress, int32_t level = 6) {
  Writer w;
  w.name = name;
  w.open = [mode, compress, level](const fs::path& dir) {
    vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
    vela::jot::JotConfig config;
    config.mode_ = mode;
    config.logdir_ = dir.string();
    config.nameprefix_ = "bench";
    config.pub_key_ = serverKey().pubHex;
    config.compressmode_ = compress;
    config.compresslevel_ = level;
    vela::jot::appender_open(config);
  };
  w.write = jotWrite;
  w.close = [] { vela::jot::appender_close(); };
  w.recovered = [w](const fs::path& dir) {
    w.open(dir);  // adopts the killed run's cache
    w.close();
    std::string text;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() != ".jot") continue;
      std::ifstream in(e.path(), std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      for (const auto& block : vela::jot::ReadLogBlocks(bytes, serverKey().priv).blocks) {
        text += block.text;
      }
    }
    return idsIn(text);
  };
  return w;
}

std::shared_ptr<spdlog::logger> gSpd;

Writer spdlogWriter(bool async) {
  Writer w;
  w.name = async ? "spdlog async" : "spdlog file";
  w.open = [async](const fs::path& dir) {
    const std::string path = (dir / "spd.log").string();
    if (async) {
      spdlog::init_thread_pool(8192, 1);
      gSpd = spdlog::basic_logger_mt<spdlog::async_factory>("bench", path);
    } else {
      gSpd = spdlog::basic_logger_mt("bench", path);
    }
  };
  w.write = [](const std::string& text) { gSpd->info("{}", text); };
  w.close = [] {
    gSpd->flush();
    gSpd.reset();
    spdlog::drop_all();
    spdlog::shutdown();
  };
  w.recovered = [](const fs::path& dir) { return idsIn(allText(dir)); };
  return w;
}

Writer glogWriter() {
  Writer w;
  w.name = "glog";
  w.open = [](const fs::path& dir) {
    static bool initialised = [] {
      google::InitGoogleLogging("jot_bench");
      FLAGS_logtostderr = false;
      FLAGS_stderrthreshold = 3;
      return true;
    }();
    (void)initialised;
    google::SetLogDestination(google::GLOG_INFO, (dir / "glog.").string().c_str());
  };
  w.write = [](const std::string& text) { LOG(INFO) << text; };
  w.close = [] { google::FlushLogFiles(google::GLOG_INFO); };
  w.recovered = [](const fs::path& dir) { return idsIn(allText(dir)); };
  return w;
}

struct Result {
  double recordsPerSecond = 0;
  double p50us = 0;
  double p99us = 0;
  double cpuSeconds = 0;
  uintmax_t bytes = 0;
};

double cpuNow() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

Result runWriter(const Writer& w, const fs::path& dir, long records, int threads) {
  fs::create_directories(dir);
  w.open(dir);
  const auto& msgs = messages();
  std::vector<std::vector<double>> samples(static_cast<size_t>(threads));
  const double cpu0 = cpuNow();
  const auto t0 = Clock::now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      const long per = records / threads;
      auto& mine = samples[static_cast<size_t>(t)];
      mine.reserve(static_cast<size_t>(per / 8 + 1));
      for (long i = 0; i < per; ++i) {
        const std::string& m = msgs[static_cast<size_t>(i * 7 + t) % msgs.size()];
        if (i % 8 == 0) {
          const auto a = Clock::now();
          w.write(m);
          mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
        } else {
          w.write(m);
        }
      }
    });
  }
  for (auto& th : pool) th.join();
  w.close();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  Result r;
  r.cpuSeconds = cpuNow() - cpu0;
  r.recordsPerSecond = static_cast<double>(records) / wall;
  std::vector<double> all;
  for (auto& s : samples) all.insert(all.end(), s.begin(), s.end());
  std::sort(all.begin(), all.end());
  if (!all.empty()) {
    r.p50us = all[all.size() / 2];
    r.p99us = all[all.size() * 99 / 100];
  }
  r.bytes = bytesIn(dir);
  return r;
}

// Forks a writer, kills it with SIGKILL mid-stream and counts what survived.
long lostAfterKill(const Writer& w, const fs::path& dir, long killAfter) {
  fs::create_directories(dir);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    w.open(dir);
    const auto& msgs = messages();
    for (long i = 0;; ++i) {
      w.write("#" + std::to_string(i) + "# " + msgs[static_cast<size_t>(i) % msgs.size()]);
      if (write(fds[1], &i, sizeof i) != sizeof i) _exit(1);
    }
  }
  close(fds[1]);
  long last = -1, value;
  while (last < killAfter && read(fds[0], &value, sizeof value) == sizeof value) last = value;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  while (read(fds[0], &value, sizeof value) == sizeof value) last = value;
  close(fds[0]);
  const std::set<long> found = w.recovered(dir);
  long lost = 0;
  for (long i = 0; i <= last; ++i) lost += found.count(i) ? 0 : 1;
  return lost;
}

// The lines the writer compresses: its record header, then the message.
const std::vector<std::string>& formattedLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> out;
    for (const std::string& m : messages()) {
      out.push_back("[12-09/09:46:32.123|I|main|" + std::to_string(getpid()) + "|jot_bench.cpp(140)] " +
                    m + "\n");
    }
    return out;
  }();
  return lines;
}

// The bare cost of compressing (and enciphering) each line under one lock,
// in blocks of the writer's size: a new stream per block, as the format asks.
double floorRate(bool zstd, int level, long records, int threads) {
  std::mutex mu;
  std::vector<unsigned char> out(vela::jot::kBufferBlockLength);
  size_t used = 0;
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, 16);
  const vela::jot::TeaKey key{1, 2, 3, 4};
  const auto& lines = formattedLines();
  const auto t0 = Clock::now();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (long i = 0; i < records / threads; ++i) {
        const std::string& m = lines[static_cast<size_t>(i * 7 + t) % lines.size()];
        std::lock_guard lock(mu);
        if (used > vela::jot::kBufferBlockLength / 3) {  // the writer's flush point
          used = 0;
          if (zstd) {
            ZSTD_CCtx_reset(cctx, ZSTD_reset_session_only);
          } else {
            deflateReset(&zs);
          }
        }
        size_t produced;
        if (zstd) {
          ZSTD_inBuffer in{m.data(), m.size(), 0};
          ZSTD_outBuffer o{out.data() + used, out.size() - used, 0};
          while (ZSTD_compressStream2(cctx, &o, &in, ZSTD_e_flush) != 0) {
          }
          produced = o.pos;
        } else {
          zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m.data()));
          zs.avail_in = static_cast<uInt>(m.size());
          zs.next_out = out.data() + used;
          zs.avail_out = static_cast<uInt>(out.size() - used);
          deflate(&zs, Z_SYNC_FLUSH);
          produced = out.size() - used - zs.avail_out;
        }
        for (size_t u = 0; u + 8 <= produced; u += 8) vela::jot::TeaEncipher(key, out.data() + used + u);
        used += produced;
      }
    });
  }
  for (auto& th : pool) th.join();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  deflateEnd(&zs);
  ZSTD_freeCCtx(cctx);
  return static_cast<double>(records) / wall;
}

// The runs of one writer (or floor): medians and spreads.
struct Runs {
  std::vector<Result> results;
  [[nodiscard]] bench::Spread of(double Result::*field) const {
    std::vector<double> values;
    for (const Result& r : results) values.push_back(r.*field);
    return bench::spreadOf(values);
  }
  [[nodiscard]] bench::Spread rate() const { return of(&Result::recordsPerSecond); }
};

}  // namespace

struct Mode {
  Writer writer;
  bool zstd = false;  // for the floor; a peer has none
  int level = 0;
  bool hasFloor = false;
};

constexpr const char* kUsage = "usage: jot_bench [RECORDS] [--jot] [--runs=5]\n";

int main(int argc, char** argv) {
  long records = 1000000;
  bool jotOnly = false;
  int runs = bench::kDefaultRuns;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    const std::string arg = argv[i];
    bool bad = false;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--jot") {
      jotOnly = true;
    } else if (arg.rfind("--runs=", 0) == 0) {
      bad = !bench::parseRuns(arg, runs);
    } else if (records = std::strtol(argv[i], &end, 10); end == argv[i] || *end != '\0' || records <= 0) {
      bad = true;
    }
    if (bad) {
      std::fprintf(stderr, "jot_bench: bad argument: %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  std::printf("%d runs per figure; load average %s\n", runs, bench::loadAverage().c_str());
  const char* base = std::getenv("JOT_BENCH_DIR");
  const fs::path root = fs::path(base ? base : fs::temp_directory_path().string()) /
                        ("jot_bench-" + std::to_string(getpid()));
  std::vector<Mode> modes = {
      {jotWriter("jot deflate 9", vela::jot::kAppenderAsync, vela::jot::kZlib), false, 9, true},
      {jotWriter("jot zstd 6", vela::jot::kAppenderAsync, vela::jot::kZstd, 6), true, 6, true},
      {jotWriter("jot zstd 3", vela::jot::kAppenderAsync, vela::jot::kZstd, 3), true, 3, true},
  };
  if (!jotOnly) {
    modes.push_back({jotWriter("jot sync", vela::jot::kAppenderSync, vela::jot::kZlib)});
    modes.push_back({spdlogWriter(true)});
    modes.push_back({spdlogWriter(false)});
    modes.push_back({glogWriter()});

    // Kills first, while this process has no threads of its own to fork with.
    std::printf("records lost after SIGKILL (killed after 50,000 records):\n");
    (void)serverKey();
    for (const Mode& m : modes) {
      std::printf("  %-16s %ld\n", m.writer.name.c_str(),
                  lostAfterKill(m.writer, root / ("kill-" + m.writer.name), 50000));
      std::fflush(stdout);
    }
  }

  for (int threads : {1, 4, 8}) {
    std::printf("\n%ld records, %d thread(s); load average before %s\n", records, threads,
                bench::loadAverage().c_str());
    std::printf("  %-16s %34s %9s %9s %8s %12s %34s %9s\n", "writer", "records/s median (min..max)", "p50 us",
                "p99 us", "cpu s", "bytes", "floor records/s median (min..max)", "vs floor");
    for (size_t i = 0; i < modes.size(); ++i) {
      const Mode& m = modes[i];
      // A fresh folder per run: glog keeps its file open across destinations.
      const fs::path dir = root / ("run-" + std::to_string(threads) + "-" + std::to_string(i));
      // Writer and floor take turns: a shared machine's load weighs on both alike.
      Runs writer;
      Runs floor;
      for (int round = 0; round < runs; ++round) {
        writer.results.push_back(runWriter(m.writer, dir, records, threads));
        fs::remove_all(dir);
        if (m.hasFloor) floor.results.push_back({floorRate(m.zstd, m.level, records, threads)});
      }
      const std::string floorText = m.hasFloor ? bench::spreadText(floor.rate()) : "-";
      std::printf("  %-16s %34s %9.2f %9.2f %8.2f %12ju %34s %9s\n", m.writer.name.c_str(),
                  bench::spreadText(writer.rate()).c_str(), writer.of(&Result::p50us).median,
                  writer.of(&Result::p99us).median, writer.of(&Result::cpuSeconds).median,
                  writer.results.back().bytes, floorText.c_str(),
                  m.hasFloor ? bench::ratioText(writer.rate(), floor.rate()).c_str() : "-");
      std::fflush(stdout);
    }
    std::printf("  load average after %s\n", bench::loadAverage().c_str());
  }
  fs::remove_all(root);
  return 0;
}
