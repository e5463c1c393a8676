// Every public header together: overloads of one name from different themes
// must still pick the right one.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ext/attributed_string.h"
#include "ext/bool_number.h"
#include "ext/characters.h"
#include "ext/collection_editing.h"
#include "ext/collections.h"
#include "ext/color.h"
#include "ext/decoding.h"
#include "ext/dictionaries.h"
#include "ext/dynamic_value.h"
#include "ext/edge_insets.h"
#include "ext/localization.h"
#include "ext/numbers.h"
#include "ext/optionals.h"
#include "ext/palettes.h"
#include "ext/pasteboard_sink.h"
#include "ext/precondition.h"
#include "ext/regex.h"
#include "ext/sequences.h"
#include "ext/string_editing.h"
#include "ext/string_numbers.h"
#include "ext/string_path.h"
#include "ext/strings.h"
#include "ext/url.h"

namespace {

TEST(AllHeaders, TextPicksTheCharacterWiseOverloads) {
  const std::string text = "h\xC3\xA9llo";  // "héllo"
  const std::optional<ext::Character> second = ext::safe(text, 1);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->string(), "\xC3\xA9");
  EXPECT_EQ(ext::safe(std::vector<int>{1, 2}, 1), 2);
  EXPECT_FALSE(ext::contains(text, std::string()));
}

}  // namespace
