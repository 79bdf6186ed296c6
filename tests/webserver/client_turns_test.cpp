// What one client address can take of the server: answers at once, answers
// a second, requests held; and that another address is not held up by it.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ClientTurns.h"

namespace {

using kivo::web::ClientTurns;
using Clock = std::chrono::steady_clock;

// How long a burst's worth of requests would take at the rate alone.
constexpr double kBurstSeconds = ClientTurns::kBurst / ClientTurns::kPerSecond;

// Enters `count` requests of `address` that stay answered.
void hold(ClientTurns& turns, const std::string& address, int count) {
  for (int i = 0; i < count; ++i) ASSERT_TRUE(turns.enter(address));
}

// Answers `count` requests of `address` one after the other; the time they took.
Clock::duration answer(ClientTurns& turns, const std::string& address, int count) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (!turns.enter(address)) {
      ADD_FAILURE() << "request " << i << " of " << address << " refused";
      break;
    }
    turns.leave(address);
  }
  return Clock::now() - start;
}

TEST(ClientTurnsTest, AnAddressIsAnsweredABurstThenAtItsRate) {
  ClientTurns turns;
  const auto burst = answer(turns, "10.0.0.1", int(ClientTurns::kBurst));
  // At the rate alone the burst would take kBurstSeconds; half of that
  // leaves room for a machine busy with other tests.
  EXPECT_LT(burst, std::chrono::duration<double>(kBurstSeconds / 2)) << "the burst is not slowed";
  EXPECT_GE(answer(turns, "10.0.0.1", 10), std::chrono::duration<double>(9 / ClientTurns::kPerSecond))
      << "past the burst, requests wait for their turn";
  EXPECT_LT(answer(turns, "10.0.0.2", int(ClientTurns::kBurst)), std::chrono::duration<double>(kBurstSeconds / 2))
      << "another address has a burst and a rate of its own";
}

TEST(ClientTurnsTest, RequestsBeyondThoseAnsweredAtOnceWaitForOneToEnd) {
  ClientTurns turns;
  hold(turns, "10.0.0.1", ClientTurns::kAtOnce);
  auto waiting = std::async(std::launch::async, [&] { return turns.enter("10.0.0.1"); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  turns.leave("10.0.0.1");
  EXPECT_TRUE(waiting.get()) << "admitted once an answer ended";

  auto refused = std::async(std::launch::async, [&] { return turns.enter("10.0.0.1"); });
  EXPECT_FALSE(refused.get()) << "no answer ended within the longest wait";
}

TEST(ClientTurnsTest, AnAddressHoldsABoundedShareAndOthersPassBesideIt) {
  ClientTurns turns;
  hold(turns, "10.0.0.1", ClientTurns::kAtOnce);
  std::vector<std::future<bool>> waiting;
  for (int i = ClientTurns::kAtOnce; i < ClientTurns::kHeldAtMost; ++i)
    waiting.push_back(std::async(std::launch::async, [&] { return turns.enter("10.0.0.1"); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto asked = Clock::now();
  EXPECT_FALSE(turns.enter("10.0.0.1")) << "beyond the share held";
  EXPECT_LT(Clock::now() - asked, ClientTurns::kLongestWait) << "refused after a pause, not a wait";
  EXPECT_TRUE(turns.enter("10.0.0.2")) << "another address is answered";
  turns.leave("10.0.0.2");
  for (int i = 0; i < ClientTurns::kAtOnce; ++i) turns.leave("10.0.0.1");
  for (auto& request : waiting)
    if (request.get()) turns.leave("10.0.0.1");
}

}  // namespace
