#include "process/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velotrax {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, RunsPostedFunctionsOnItsOwnThreadInOrderPerPoster) {
  EventLoop loop;
  const std::thread::id ui = std::this_thread::get_id();
  constexpr int kPosters = 4, kEach = 500;
  std::vector<std::vector<int>> seen(kPosters);
  std::atomic<int> wrong_thread{0};
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) {
        loop.Post([&, p, i] {
          if (std::this_thread::get_id() != ui) ++wrong_thread;
          seen[p].push_back(i);
        });
      }
    });
  }
  auto all_seen = [&] {
    for (const auto& s : seen) {
      if (s.size() != kEach) return false;
    }
    return true;
  };
  EXPECT_TRUE(loop.RunUntil(all_seen, 20s));
  for (std::thread& t : posters) t.join();
  EXPECT_EQ(wrong_thread.load(), 0);
  for (const auto& s : seen) {
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(s[i], i);
  }
}

TEST(EventLoop, CallWaitsForTheLoopAndRunsInlineOnTheLoopThread) {
  EventLoop loop;
  int value = 0;
  // On the loop's own thread a Call cannot wait for itself.
  loop.Call([&] { value = 1; });
  EXPECT_EQ(value, 1);

  std::atomic<bool> returned{false};
  std::thread::id ran_on;
  std::thread worker([&] {
    loop.Call([&] {
      ran_on = std::this_thread::get_id();
      value = 2;
    });
    // The function has run by the time Call returns.
    EXPECT_EQ(value, 2);
    returned = true;
  });
  EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, 20s));
  worker.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(EventLoop, ExceptionsReachTheRunnerOfTheLoopOrTheCaller) {
  EventLoop loop;
  bool later_ran = false;
  loop.Post([] { throw std::runtime_error("posted failure"); });
  loop.Post([&] { later_ran = true; });
  EXPECT_THROW(loop.RunUntil([&] { return later_ran; }, 5s), std::runtime_error);
  EXPECT_FALSE(later_ran);
  // The loop stays usable and the rest of the queue still runs.
  EXPECT_TRUE(loop.RunUntil([&] { return later_ran; }, 5s));

  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      loop.Call([] { throw std::logic_error("called failure"); });
    } catch (const std::logic_error&) {
      caught = true;
    }
  });
  EXPECT_TRUE(loop.RunUntil([&] { return caught.load(); }, 20s));
  worker.join();
}

TEST(EventLoop, RunUntilGivesUpAtTheTimeoutEvenWhileFlooded) {
  EventLoop loop;
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 20ms));

  // A function that always posts again must not keep RunUntil past its time.
  std::function<void()> again = [&] { loop.Post(again); };
  loop.Post(again);
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 50ms));
  EXPECT_EQ(loop.RunPending(), 1u);

  // A condition that turns true outside the loop is noticed without any post.
  std::atomic<bool> flag{false};
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    flag = true;
  });
  EXPECT_TRUE(loop.RunUntil([&] { return flag.load(); }, 20s));
  setter.join();
}

}  // namespace
}  // namespace velotrax
