// Allocation counter of the test binary that links counting_allocator.cpp.
#pragma once

// Global operator new calls so far.
long allocationCount();
