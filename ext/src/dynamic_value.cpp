#include "ext/dynamic_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace ext {
namespace {

// Whether `text` is well-formed UTF-8 (no overlongs, surrogates or values
// past U+10FFFF), which every text in a JSON document must be.
bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      point = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

// `depth` counts the containers around `value`, itself included. The limit
// keeps this recursion, and the writer's after it, within the stack.
bool isValidMember(const DynamicValue& value, std::size_t depth) {
  if (const double* number = value.getIf<double>()) return std::isfinite(*number);
  if (const std::string* text = value.getIf<std::string>()) return isValidUtf8(*text);
  if ((value.isArray() || value.isObject()) && depth > kMaxJsonDepth) return false;
  if (const DynamicValue::Array* array = value.getIf<DynamicValue::Array>()) {
    for (const DynamicValue& element : *array) {
      if (!isValidMember(element, depth + 1)) return false;
    }
  }
  if (const DynamicValue::Object* object = value.getIf<DynamicValue::Object>()) {
    for (const auto& [key, element] : *object) {
      if (!isValidUtf8(key) || !isValidMember(element, depth + 1)) return false;
    }
  }
  return true;
}

class JsonWriter {
 public:
  explicit JsonWriter(bool prettify) : prettify_(prettify) {}

  void write(const DynamicValue& value) {
    if (value.isNull()) {
      out_ += "null";
    } else if (const bool* flag = value.getIf<bool>()) {
      out_ += *flag ? "true" : "false";
    } else if (const std::int64_t* integer = value.getIf<std::int64_t>()) {
      appendNumber(*integer);
    } else if (const double* number = value.getIf<double>()) {
      appendNumber(*number);
    } else if (const std::string* text = value.getIf<std::string>()) {
      writeString(*text);
    } else if (const DynamicValue::Array* array = value.getIf<DynamicValue::Array>()) {
      writeContainer('[', ']', *array, [this](const DynamicValue& element) { write(element); });
    } else if (const DynamicValue::Object* object = value.getIf<DynamicValue::Object>()) {
      writeContainer('{', '}', *object, [this](const auto& member) {
        writeString(member.first);
        out_ += prettify_ ? " : " : ":";
        write(member.second);
      });
    }
  }

  [[nodiscard]] std::string take() { return std::move(out_); }

 private:
  template <class Container, class WriteMember>
  void writeContainer(char open, char close, const Container& members, WriteMember writeMember) {
    out_ += open;
    ++depth_;
    newLine();
    bool first = true;
    for (const auto& member : members) {
      if (!first) {
        out_ += ',';
        newLine();
      }
      first = false;
      indent();
      writeMember(member);
    }
    --depth_;
    newLine();
    indent();
    out_ += close;
  }

  void newLine() {
    if (prettify_) out_ += '\n';
  }
  void indent() {
    if (prettify_) out_.append(2 * depth_, ' ');
  }

  template <class Number>
  void appendNumber(Number number) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    out_.append(buffer, result.ptr);
  }

  void writeString(std::string_view text) {
    out_ += '"';
    for (const char c : text) {
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '/':
          out_ += "\\/";
          break;
        case '\b':
          out_ += "\\b";
          break;
        case '\f':
          out_ += "\\f";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out_ += escaped;
          } else {
            out_ += c;
          }
      }
    }
    out_ += '"';
  }

  bool prettify_;
  std::size_t depth_ = 0;
  std::string out_;
};

}  // namespace

// Nested values are copied, compared and taken apart from a list of pending
// members rather than by recursion, which a deep enough value would take past
// the end of the stack.

DynamicValue::DynamicValue(const DynamicValue& other) {
  if (!other.hasMembers()) {
    value_ = other.value_;
    return;
  }
  // Each pair is a value and its copy, which is still null.
  std::vector<std::pair<const DynamicValue*, DynamicValue*>> pending{{&other, this}};
  while (!pending.empty()) {
    const auto [from, to] = pending.back();
    pending.pop_back();
    if (const Array* array = from->getIf<Array>()) {
      // Sized once, so the pointers to the copies stay valid.
      Array& copies = to->value_.emplace<Array>(array->size());
      for (std::size_t i = 0; i < array->size(); ++i) {
        pending.emplace_back(&(*array)[i], &copies[i]);
      }
    } else if (const Object* object = from->getIf<Object>()) {
      Object& copies = to->value_.emplace<Object>();
      copies.reserve(object->size());
      for (const auto& [key, member] : *object) pending.emplace_back(&member, &copies[key]);
    } else {
      to->value_ = from->value_;  // no members, so no recursion
    }
  }
}

DynamicValue& DynamicValue::operator=(const DynamicValue& other) {
  if (this != &other) *this = DynamicValue(other);
  return *this;
}

DynamicValue::~DynamicValue() {
  if (!hasMembers()) return;
  // Members with members of their own are moved out and taken apart one at a
  // time; what is left to destroy holds at most one level.
  std::vector<DynamicValue> pending;
  const auto detachNested = [&pending](DynamicValue& value) {
    if (Array* array = value.getIf<Array>()) {
      for (DynamicValue& member : *array) {
        if (member.hasMembers()) pending.push_back(std::move(member));
      }
    } else if (Object* object = value.getIf<Object>()) {
      for (auto& [key, member] : *object) {
        if (member.hasMembers()) pending.push_back(std::move(member));
      }
    }
  };
  detachNested(*this);
  while (!pending.empty()) {
    DynamicValue next = std::move(pending.back());
    pending.pop_back();
    detachNested(next);
    next.value_ = nullptr;
  }
}

bool DynamicValue::hasMembers() const {
  if (const Array* array = getIf<Array>()) return !array->empty();
  if (const Object* object = getIf<Object>()) return !object->empty();
  return false;
}

bool operator==(const DynamicValue& a, const DynamicValue& b) {
  if (!a.hasMembers() && !b.hasMembers()) return a.value_ == b.value_;
  std::vector<std::pair<const DynamicValue*, const DynamicValue*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x->value_.index() != y->value_.index()) return false;
    if (const DynamicValue::Array* xArray = x->getIf<DynamicValue::Array>()) {
      const DynamicValue::Array& yArray = *y->getIf<DynamicValue::Array>();
      if (xArray->size() != yArray.size()) return false;
      for (std::size_t i = 0; i < xArray->size(); ++i) {
        pending.emplace_back(&(*xArray)[i], &yArray[i]);
      }
    } else if (const DynamicValue::Object* xObject = x->getIf<DynamicValue::Object>()) {
      const DynamicValue::Object& yObject = *y->getIf<DynamicValue::Object>();
      if (xObject->size() != yObject.size()) return false;
      for (const auto& [key, member] : *xObject) {
        const auto found = yObject.find(key);
        if (found == yObject.end()) return false;
        pending.emplace_back(&member, &found->second);
      }
    } else if (x->value_ != y->value_) {  // no members, so no recursion
      return false;
    }
  }
  return true;
}

bool isValidJsonObject(const DynamicValue& value) {
  return (value.isArray() || value.isObject()) && isValidMember(value, 1);
}

std::optional<std::string> toJson(const DynamicValue& value, bool prettify) {
  if (!isValidJsonObject(value)) return std::nullopt;
  JsonWriter writer(prettify);
  writer.write(value);
  return writer.take();
}

}  // namespace ext
