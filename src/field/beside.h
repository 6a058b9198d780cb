// Two pieces of work at once: one on a second thread, one on the calling
// thread (the one that may touch the database).
#pragma once

#include <exception>
#include <thread>

// Runs `beside` on a new thread while the calling thread runs `here`, and
// returns once both have ended; a failure of either is thrown on, the
// calling thread's first.
template <class Beside, class Here>
void runBeside(Beside&& beside, Here&& here) {
  std::exception_ptr failed;
  std::thread second([&] {
    try {
      beside();
    } catch (...) {
      failed = std::current_exception();
    }
  });
  try {
    here();
  } catch (...) {
    second.join();
    throw;
  }
  second.join();
  if (failed) std::rethrow_exception(failed);
}
