#pragma once
// Giving memory back once large work is over. The allocator keeps the pages of freed pictures and
// of the text engines for reuse, so a process that once held a big picture would stay that big;
// when a card, an editor or a reading of text is gone, those pages go back to the system.

#include <QtGlobal>

namespace Memory {

// Sets the allocator up for a program that now and then holds very large pictures: buffers of a
// megabyte or more are mapped on their own and go back the moment they are freed.
void tuneAllocator();

// Hands the free pages of every heap back to the system now. Safe from any thread.
void giveBack();

// The same a moment later, on the main thread, once the work that freed them has wound down;
// calls made meanwhile are merged into one.
void giveBackSoon();

// The resident size of this process in kB, or -1 when it can't be read.
qint64 residentKb();

} // namespace Memory
