#include "common/typeName.h"

#include <cstdlib>
#include <memory>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define QUILO_HAVE_CXXABI 1
#endif

namespace quilo {

std::string TypeName(const std::type_info& type) {
#if defined(QUILO_HAVE_CXXABI)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    if (status == 0 && name) return name.get();
#endif
    return type.name();
}

}  // namespace quilo
