#include "precondition.h"

#include <cstdio>
#include <cstdlib>

namespace ext::detail {

void programmingError(std::string_view message) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  std::abort();
}

}  // namespace ext::detail
