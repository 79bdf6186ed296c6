// A signal that asks kivo to stop wakes whoever waits for input, whichever
// thread it was taken on and however long before the wait began.
#include "Interrupt.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>

#include <csignal>
#include <thread>

namespace {

using namespace kivo::host;

bool readable_now(int fd) {
  pollfd wait{fd, POLLIN, 0};
  return poll(&wait, 1, 0) == 1 && (wait.revents & POLLIN);
}

TEST(InterruptTest, ASignalTakenOnAnyThreadBeforeTheWaitWakesIt) {
  install_interrupt_handler();
  ASSERT_GE(interrupt_fd(), 0);
  drain_interrupt_fd();
  EXPECT_FALSE(readable_now(interrupt_fd()));
  // Taken on another thread, before anybody polls.
  std::thread([] { pthread_kill(pthread_self(), SIGINT); }).join();
  EXPECT_TRUE(take_interrupt());
  EXPECT_TRUE(readable_now(interrupt_fd())) << "a wait that begins now returns at once";
  drain_interrupt_fd();
  EXPECT_FALSE(readable_now(interrupt_fd()));
  std::raise(SIGINT);
  std::raise(SIGINT);
  EXPECT_TRUE(readable_now(interrupt_fd()));
  drain_interrupt_fd();
  EXPECT_FALSE(readable_now(interrupt_fd())) << "one drain empties what many signals left";
  take_interrupt();
}

}  // namespace
