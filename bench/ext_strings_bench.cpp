// The string extensions against a direct peer on the same input, printing
// MB/s and the ratio of ours to the peer's:
//   characters  charactersArray() against a bare ICU character break iterator
//               over UTF-16 (what a caller without ext would write)
//   base64      base64Encoded()/stringFromBase64() against OpenSSL's
//               EVP_EncodeBlock/EVP_DecodeBlock
//   contains    case-insensitive contains() against ICU's fold-case of both
//               texts and a byte search (no character boundaries)
//
//   build/dev/bench/ext_strings_bench [--scale=1.0]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include "ext/strings.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_scale = 1.0;

// Mixed text: ASCII words, accents in both forms, CJK, emoji, flags, CRLF.
std::string sampleText(std::size_t bytes) {
  const std::string piece =
      "Hello wörld, cafe\u0301 \u00E9t\u00E9 \u65E5\u672C\u8A9E \U0001F600 "
      "\U0001F1E9\U0001F1EA\r\n";
  std::string text;
  while (text.size() < bytes) text += piece;
  return text;
}

// Runs `work` `rounds` times and returns MB/s over `bytes` per round.
double throughput(std::size_t bytes, int rounds, const std::function<std::size_t()>& work) {
  std::size_t sink = 0;
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) sink += work();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (sink == 42) std::printf(" ");  // keeps the work observable
  return static_cast<double>(bytes) * rounds / seconds / 1e6;
}

void report(const char* name, double ours, double peer) {
  std::printf("%-11s ext %9.1f MB/s   peer %9.1f MB/s   ratio %.2f\n", name, ours, peer,
              ours / peer);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--scale=", 8) == 0) g_scale = std::atof(argv[i] + 8);
  }
  const int rounds = std::max(1, static_cast<int>(20 * g_scale));
  const std::string text = sampleText(1 << 20);

  const double oursCharacters =
      throughput(text.size(), rounds, [&] { return ext::charactersArray(text).size(); });
  const double peerCharacters = throughput(text.size(), rounds, [&] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    const icu::UnicodeString units = icu::UnicodeString::fromUTF8(text);
    breaks->setText(units);
    std::vector<icu::UnicodeString> characters;
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE;
         start = end, end = breaks->next()) {
      characters.push_back(units.tempSubStringBetween(start, end));
    }
    return characters.size();
  });
  report("characters", oursCharacters, peerCharacters);

  const std::string encoded = ext::base64Encoded(text);
  const double oursBase64 = throughput(text.size(), rounds, [&] {
    return ext::base64Encoded(text).size() + ext::stringFromBase64(encoded)->size();
  });
  const double peerBase64 = throughput(text.size(), rounds, [&] {
    std::string out(encoded.size() + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    std::string back(encoded.size(), '\0');
    const int read = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(back.data()),
                                     reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<int>(encoded.size()));
    return static_cast<std::size_t>(written + read);
  });
  report("base64", oursBase64, peerBase64);

  const std::string needle = "WÖRLD, CAFÉ \u00C9T\u00C9 X";  // never found: a full scan
  const double oursContains = throughput(
      text.size(), rounds, [&] { return std::size_t{ext::contains(text, needle, false)}; });
  const double peerContains = throughput(text.size(), rounds, [&] {
    std::string hay;
    std::string folded;
    icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(hay);
    icu::UnicodeString::fromUTF8(needle).foldCase().toUTF8String(folded);
    return std::size_t{hay.find(folded) != std::string::npos};
  });
  report("contains", oursContains, peerContains);
  return 0;
}
