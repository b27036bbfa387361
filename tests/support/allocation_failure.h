// Makes large allocations fail, for tests of what code does when a copy
// cannot be had. Linking this file replaces the program's operator new.
#pragma once

#include <cstddef>

namespace Test_Support {

// While non-zero, every allocation of at least `bytes` throws
// std::bad_alloc; 0 ends that.
void fail_allocations_from(size_t bytes);

}  // namespace Test_Support
