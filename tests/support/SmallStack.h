#pragma once
// Runs work on a thread with a stack as small as a dispatch queue's worker
// thread gets on macOS (512 KB), where the helper's queues run: a parser or
// writer that recursed with the input's depth would overflow it.

#include <gtest/gtest.h>
#include <pthread.h>

namespace quillory::testing {

template <typename Work>
void onSmallStack(Work work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 * 1024);
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
