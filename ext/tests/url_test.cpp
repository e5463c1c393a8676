#include "ext/url.h"

#include <string_view>

#include <gtest/gtest.h>

namespace {

struct UrlCase {
  std::string_view text;
  // Only this many bytes of `text` are passed: the bytes after the cut must
  // not be read.
  std::size_t length = std::string_view::npos;
  bool valid = true;
  std::string_view scheme = "";
};

TEST(Url, MakeAcceptsUriCharactersAndFindsTheScheme) {
  const UrlCase cases[] = {
      // The edges of the letter and digit ranges.
      {.text = "a"},
      {.text = "z"},
      {.text = "A"},
      {.text = "Z"},
      {.text = "0"},
      {.text = "9"},
      {.text = "`", .valid = false},
      {.text = "{", .valid = false},
      {.text = "\\", .valid = false},
      {.text = "@:x"},
      {.text = "[:x"},
      {.text = "z:x", .scheme = "z"},
      {.text = "Z:x", .scheme = "Z"},
      // A scheme starts with a letter and goes on with letters, digits, + - .
      {.text = "svn+ssh.v-2:x", .scheme = "svn+ssh.v-2"},
      {.text = "1a:x"},
      {.text = ":x"},
      {.text = "a/b:c"},
      {.text = "a_b:c"},
      {.text = "ab"},
      {.text = "ab:c", .length = 2},
      // Escapes are % and two hex digits, within the text.
      {.text = "a%41b"},
      {.text = "%4a%FF"},
      {.text = "%z4", .valid = false},
      {.text = "%4z", .valid = false},
      {.text = "a%4", .valid = false},
      {.text = "a%41", .length = 3, .valid = false},
      {.text = "a%", .valid = false},
  };
  for (const UrlCase& c : cases) {
    const std::string_view text = c.text.substr(0, c.length);
    const auto url = ext::Url::make(text);
    ASSERT_EQ(url.has_value(), c.valid) << c.text << " cut to " << text.size();
    if (!url) continue;
    EXPECT_EQ(url->absoluteString(), text);
    EXPECT_EQ(url->scheme(), c.scheme) << text;
    EXPECT_EQ(url->hasScheme(), !c.scheme.empty()) << text;
  }
}

}  // namespace
