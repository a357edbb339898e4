#pragma once

namespace ProcessMemory {
// Hands the heap's free pages back to the system. The allocator keeps what was freed for
// later use, and what a large, short-lived piece of work (a full-screen window) leaves
// scattered through the heap would otherwise stay resident for the life of the process.
void returnFreePages();
} // namespace ProcessMemory
