#pragma once
// Runs work on a thread with a stack as small as a dispatch queue's worker
// thread gets on macOS (512 KB), where the helper's queues run: a parser or
// writer that recursed with the input's depth would overflow it.

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>

namespace quillory::testing {

// ThreadSanitizer's instrumented frames are larger than the shipped build's
// (a resumed parse's frames overflowed 512 KB there, not in the plain or the
// AddressSanitizer build), so under it the stack is doubled.
#if defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kSmallStackBytes = 1024 * 1024;
#else
inline constexpr std::size_t kSmallStackBytes = 512 * 1024;
#endif

template <typename Work>
void onSmallStack(Work work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kSmallStackBytes);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<Work*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

}  // namespace quillory::testing
