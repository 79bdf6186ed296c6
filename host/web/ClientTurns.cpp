#include "ClientTurns.h"

#include <algorithm>
#include <thread>

namespace kivo::web {

namespace {

using Clock = ClientTurns::Clock;

Clock::duration seconds(double value) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

const Clock::duration kSpacing = seconds(1.0 / ClientTurns::kPerSecond);
const Clock::duration kBurstSpan = seconds(ClientTurns::kBurst / ClientTurns::kPerSecond);

}  // namespace

bool ClientTurns::enter(const std::string& address) {
  std::unique_lock lock(mutex_);
  const auto now = Clock::now();
  const auto deadline = now + kLongestWait;
  Client& asking = client(address, now);
  // Refused at once, a client asking again at once would keep the server
  // refusing; waiting, the requests beyond the address's share would hold
  // the workers of others.
  if (asking.answering + asking.waiting >= kHeldAtMost) {
    lock.unlock();
    std::this_thread::sleep_for(kRefusalPause);
    return false;
  }
  const auto turn = std::max(asking.next_turn, now - kBurstSpan + kSpacing);
  // An entry with requests waiting or answered is never forgotten, so the
  // reference holds while the lock is let go.
  ++asking.waiting;
  bool admitted = false;
  if (turn > deadline) {
    lock.unlock();
    std::this_thread::sleep_until(deadline);
    lock.lock();
  } else {
    asking.next_turn = turn + kSpacing;
    admitted = freed_.wait_until(lock, deadline, [&] { return asking.answering < kAtOnce; });
  }
  --asking.waiting;
  if (!admitted) return false;
  ++asking.answering;
  lock.unlock();
  std::this_thread::sleep_until(turn);
  return true;
}

void ClientTurns::leave(const std::string& address) {
  {
    std::lock_guard lock(mutex_);
    const auto found = clients_.find(address);
    if (found != clients_.end()) --found->second.answering;
  }
  freed_.notify_all();
}

// The entry of `address`; when too many are remembered, those with nothing
// in hand and their whole burst back are forgotten.
ClientTurns::Client& ClientTurns::client(const std::string& address, Clock::time_point now) {
  if (clients_.size() >= kMaxAddresses && !clients_.contains(address))
    std::erase_if(clients_, [&](const auto& entry) {
      const Client& known = entry.second;
      return known.answering == 0 && known.waiting == 0 && known.next_turn <= now - kBurstSpan;
    });
  return clients_[address];
}

}  // namespace kivo::web
