// The extension library's single-pass walks at scale: removeDuplicates by a
// hashable key over 10^6 elements, latinized and toSlug over 1.6 MB of text
// full of combining marks, and a read and a write through 10^4 nested
// dictionaries. Prints the median seconds of the runs with their spread.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_stats.h"
#include "ext/collection_editing.h"
#include "ext/dictionaries.h"
#include "ext/string_editing.h"

namespace {

// Seconds per run of `work`, `setup` run untimed before each.
bench::Spread timed(int runs, const std::function<void()>& setup,
                    const std::function<void()>& work) {
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    setup();
    const auto start = std::chrono::steady_clock::now();
    work();
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return bench::spreadOf(seconds);
}

void report(const char* name, const bench::Spread& spread) {
  std::printf("%-44s %s s\n", name, bench::spreadText(spread, "%.3f").c_str());
}

ext::DynamicValue objectChain(std::size_t depth) {
  ext::DynamicValue value = ext::DynamicValue::Object{};
  for (std::size_t level = 1; level < depth; ++level) {
    ext::DynamicValue::Object outer;
    outer.emplace("k", std::move(value));
    value = std::move(outer);
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help") {
      std::printf("usage: ext_bench [--runs=N]\n");
      return 0;
    }
    if (!bench::parseRuns(argv[i], runs)) {
      std::fprintf(stderr, "ext_bench: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  std::printf("load before: %s\n", bench::loadAverage().c_str());

  std::vector<int> numbers;
  report("removeDuplicates, 10^6 ints, key x/2",
         timed(
             runs,
             [&] {
               numbers.clear();
               for (int i = 0; i < 1'000'000; ++i) numbers.push_back(i);
             },
             [&] { ext::removeDuplicates(numbers, [](int x) { return x / 2; }); }));

  std::string marked;
  for (int i = 0; i < 400'000; ++i) marked += "e\u0301X";
  std::string result;
  report("latinized, 400,000 x e+U+0301+X (1.6 MB)",
         timed(
             runs, [] {}, [&] { result = ext::latinized(marked); }));
  report("toSlug, the same text", timed(
                                      runs, [] {}, [&] { result = ext::toSlug(marked); }));

  constexpr std::size_t kDepth = 10'000;
  std::unordered_map<std::string, ext::DynamicValue> chain;
  chain.emplace("k", objectChain(kDepth - 1));
  const std::vector<std::string> path(kDepth, "k");
  std::optional<ext::DynamicValue> read;
  report("valueAtPath, depth 10^4",
         timed(
             runs, [] {},
             [&] { read = ext::valueAtPath(chain, std::span<const std::string>(path)); }));
  report("setValueAtPath, depth 10^4",
         timed(
             runs, [] {},
             [&] {
               ext::setValueAtPath(chain, std::span<const std::string>(path), ext::DynamicValue(7));
             }));
  std::printf("load after: %s\n", bench::loadAverage().c_str());
  return 0;
}
