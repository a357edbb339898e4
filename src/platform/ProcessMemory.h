#pragma once

#include <QImage>

namespace ProcessMemory {
// Hands the heap's free pages back to the system. The allocator keeps what was freed for
// later use, and what a large, short-lived piece of work (a full-screen window) leaves
// scattered through the heap would otherwise stay resident for the life of the process.
void returnFreePages();

// An image, transparent to begin with, whose pixels have a mapping of their own that goes
// back to the system with the image. A large picture freed into the heap raises the
// allocator's bar for mapping such pieces apart, so the next one lands on the heap, where
// whatever is allocated after it can keep its pages resident for good.
QImage imageOutsideHeap(QSize size, QImage::Format format);
} // namespace ProcessMemory
