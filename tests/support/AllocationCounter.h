// Counts calls of the global operator new, on every thread, while an
// AllocationCounter is alive: proves that a path allocates nothing.
//
//     {
//         AllocationCounter counter;
//         for (int i = 0; i < 300; ++i) presentation.frame();
//         EXPECT_EQ(counter.calls(), 0u);
//     }
//
// Link the test with tessaran_allocation_counter: it replaces operator new and
// delete for the whole program (with plain malloc/free), so only tests that
// count should link it. One counter at a time.
#pragma once

#include <cstddef>

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t calls() const;
};
