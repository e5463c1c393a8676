#include "ext/precondition.h"

#include <cstdio>
#include <cstdlib>

namespace ext {

void preconditionFailure(std::string_view message) {
  std::fprintf(stderr, "Precondition failed: %.*s\n", static_cast<int>(message.size()),
               message.data());
  std::abort();
}

}  // namespace ext
