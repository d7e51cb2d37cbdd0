// The one way Quarvel pauses: the caller is held for the given time while the
// calling thread's window messages keep being handled.
#pragma once

enum DelayUnit : int {
    Milliseconds = 0,
    Seconds = 1,
    Minutes = 2,
    Hours = 3,
};

// Returns 1 once the time has elapsed. On the window's thread, a close of the
// window seen during the pause ends the program there and then.
int DelayWithEvents(int amount, DelayUnit unit = Milliseconds);

// Waits up to `timeoutMs` for `object` to be signalled while handling the calling
// thread's messages. Unlike DelayWithEvents, it does not end the program when the
// window is closed meanwhile: it waits on without handling messages and leaves the
// quit queued, so that what the caller began is finished before the next pause ends
// the program. True when the object was signalled.
bool WaitWithEvents(void* object, unsigned long timeoutMs);

// The waitable timer's due time: a negative count of 100 ns intervals, relative.
long long DelayDueTime(int amount, DelayUnit unit);
