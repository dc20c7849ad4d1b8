// Work for a second core: a task runs on another thread while the caller does its own share.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarnwick {

// Starts a thread running `body`; throws std::system_error when none can be had.
using ThreadStarter = std::function<std::jthread(std::function<void()>)>;
std::jthread start_thread(std::function<void()> body);

// Runs `task` on another thread from construction on; join() waits for it and hands back its
// result, or rethrows what it threw. When no thread can be started the task runs on the calling
// thread inside join() instead: a task that consumes what the caller produces meanwhile then
// finds it all there, rather than waiting for it before the caller has begun.
//
// Leaving without join() (an exception on the calling side) still waits for a running task, so
// nothing it touches goes away under it; a task that never started is then dropped, as nobody
// is left to read its result.
template <class T>
class ParallelTask {
 public:
  explicit ParallelTask(std::function<T()> task, const ThreadStarter& start = start_thread)
      : task_(std::move(task)) {
    try {
      thread_ = start([this] { run(); });
    } catch (const std::system_error&) {
    }
  }
  ParallelTask(const ParallelTask&) = delete;
  ParallelTask& operator=(const ParallelTask&) = delete;

  // Whether the task has a thread of its own; if not, it runs in join().
  bool on_another_thread() const { return thread_.joinable(); }

  // Call once.
  T join() {
    if (thread_.joinable()) {
      thread_.join();
    } else {
      run();
    }
    if (failure_) std::rethrow_exception(failure_);
    if constexpr (!std::is_void_v<T>) return std::move(*result_);
  }

 private:
  using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

  void run() {
    try {
      if constexpr (std::is_void_v<T>) {
        task_();
        result_.emplace();
      } else {
        result_.emplace(task_());
      }
    } catch (...) {
      failure_ = std::current_exception();
    }
  }

  std::function<T()> task_;
  std::optional<Stored> result_;
  std::exception_ptr failure_;
  std::jthread thread_;  // last, so that it is joined before what the task writes is destroyed
};

template <class F>
ParallelTask(F) -> ParallelTask<std::invoke_result_t<F&>>;
template <class F>
ParallelTask(F, const ThreadStarter&) -> ParallelTask<std::invoke_result_t<F&>>;

}  // namespace tarnwick
