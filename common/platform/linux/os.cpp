#include "common/platform/os.h"

#include <dlfcn.h>

#include <system_error>

namespace quilo::os {

std::filesystem::path ModulePath(const void* address, std::string* error) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        if (error) *error = "dladdr found no module for the address";
        return {};
    }
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) {
        if (error) *error = ec.message();
        return {};
    }
    return path;
}

const void* AddressInThisLibrary() {
    static const int marker = 0;
    return &marker;
}

}  // namespace quilo::os
