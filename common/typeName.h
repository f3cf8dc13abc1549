// Readable names of C++ types, for log lines.
#pragma once

#include <string>
#include <typeinfo>

#include "common/export.h"

namespace quilo {

// The demangled name of the type ("quilo::Exception"), or the raw name the
// run-time type information gives when it cannot be demangled.
QUILO_API std::string TypeName(const std::type_info& type);

}  // namespace quilo
