#include "net/TComponent.h"

#include <cstdio>

namespace {

TExceptionHandler& CentralHandler() {
    static TExceptionHandler handler;
    return handler;
}

} // namespace

void SetComponentExceptionHandler(TExceptionHandler handler) {
    CentralHandler() = std::move(handler);
}

void HandleComponentException(const std::exception_ptr& error) noexcept {
    try {
        if (CentralHandler()) {
            CentralHandler()(error);
            return;
        }
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown error\n");
    }
}
