#include "base/parallel.h"

namespace tarnwick {

std::jthread start_thread(std::function<void()> body) { return std::jthread(std::move(body)); }

}  // namespace tarnwick
