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

// Runs run(first, step) over the items of a list: here over all of them
// (0, 1), or, when split, over every other one on a second thread (1, 2)
// while this thread takes the rest (0, 2).
template <class Run>
void runAlternate(bool split, Run&& run) {
  if (split) runBeside([&] { run(1, 2); }, [&] { run(0, 2); });
  else run(0, 1);
}
