#include "chat/core/frontend.h"

#include <utility>

namespace chat {
namespace {

Frontend& Storage() {
    static Frontend frontend;
    return frontend;
}

}  // namespace

Frontend& CurrentFrontend() {
    return Storage();
}

void InstallFrontend(Frontend frontend) {
    Storage() = std::move(frontend);
}

}  // namespace chat
