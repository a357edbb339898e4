#pragma once

// Returning freed heap memory to the system, where the C library allows it (glibc). Large
// short-lived buffers (a full-screen window's backing store and screen grab) otherwise stay
// with the process once freed, and the resident size only ever grows.
namespace FreedMemory {
// Large allocations get pages of their own, which go back the moment they are freed. Call
// once, at the start, before the allocations it is meant for.
void keepLargeBlocksSeparate();
// Hands back whatever freed memory the heap still holds.
void giveBack();
} // namespace FreedMemory
