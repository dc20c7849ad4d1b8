// A thread starter that fails as std::jthread does when the system has no thread to give.
#pragma once

#include <functional>
#include <system_error>
#include <thread>

namespace tarnwick::testing {

inline std::jthread no_thread(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

}  // namespace tarnwick::testing
