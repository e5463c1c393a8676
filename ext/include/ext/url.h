#pragma once
// URLs made from strings by the platform's strict rules: the text must be a
// URI reference made of ASCII letters, digits, -._~ :/?#[]@ !$&'()*+,;= and
// well-formed %XX escapes, with at most one "#". A scheme is optional (a
// relative reference is a URL too); blanks, non-ASCII text and "" are not.
//
//   Url::make("https://example.com/a?b#c")  -> scheme "https"
//   Url::make("docs/readme.txt")            -> no scheme
//   Url::make("file:///tmp/x").isFileUrl()  -> true
//   Url::make("http://exa mple.com")        -> nothing
//
// Pure and safe from any thread.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ext {

class Url {
 public:
  // Nothing when `text` is not a URL by the rules above.
  [[nodiscard]] static std::optional<Url> make(std::string_view text);

  [[nodiscard]] const std::string& absoluteString() const { return text_; }
  // As written ("HTTPS" stays "HTTPS"); "" for a relative reference.
  [[nodiscard]] const std::string& scheme() const { return scheme_; }
  [[nodiscard]] bool hasScheme() const { return !scheme_.empty(); }
  // The scheme is "file", in any case.
  [[nodiscard]] bool isFileUrl() const;

  friend bool operator==(const Url&, const Url&) = default;

 private:
  Url(std::string text, std::string scheme) : text_(std::move(text)), scheme_(std::move(scheme)) {}

  std::string text_;
  std::string scheme_;
};

}  // namespace ext
