// Waiting on a condition rather than for a time: the suite runs on slow,
// shared machines, so tests poll until what they expect holds or a generous
// limit passes.
//
//     ASSERT_TRUE(waitUntil([&] { return row() == 32; }, 5s));
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls check every `poll` until it holds or `limit` has passed; true when it
// held. It is asked once more at the end, so a slow check still gets its say.
inline bool waitUntil(const std::function<bool()>& check, std::chrono::milliseconds limit,
                    std::chrono::milliseconds poll = std::chrono::milliseconds(50)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        if (check()) return true;
        std::this_thread::sleep_for(poll);
    } while (std::chrono::steady_clock::now() < deadline);
    return check();
}
