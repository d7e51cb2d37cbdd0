#include "util/delay.h"

#include "app/program.h"
#include "util/handle.h"

#include <windows.h>

#include <cmath>

namespace {

double Multiplier(DelayUnit unit) {
    switch (unit) {
    case Seconds:
        return 1000.0;
    case Minutes:
        return 60000.0;
    case Hours:
        return 3600000.0;
    default:
        return 1.0;
    }
}

// Wakes on keyboard, mouse, posted, timer, paint, sent and hot-key input.
constexpr DWORD kWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                            QS_SENDMESSAGE | QS_HOTKEY;

// Handles what is pending; a close of the window ends the program inside the pause,
// so that the paused handler never resumes on a window that no longer exists.
void HandlePendingEvents() {
    int quitCode = 0;
    if (ProcessPendingEvents(&quitCode)) EndProgram(static_cast<UINT>(quitCode));
}

void SleepUntil(ULONGLONG deadline) {
    ULONGLONG now = ::GetTickCount64();
    if (now < deadline) ::Sleep(static_cast<DWORD>(deadline - now));
}

}  // namespace

long long DelayDueTime(int amount, DelayUnit unit) {
    double due = std::trunc(amount * Multiplier(unit) * -10000.0);
    // An hour count near the limit of int overflows 64 bits; such a pause is
    // forever in practice, and converting an out-of-range double is undefined.
    constexpr double kLimit = 9.2e18;
    if (due < -kLimit) return static_cast<long long>(-kLimit);
    if (due > kLimit) return static_cast<long long>(kLimit);
    return static_cast<long long>(due);
}

int DelayWithEvents(int amount, DelayUnit unit) {
    long long due = DelayDueTime(amount, unit);
    if (due == 0) {
        // A timer due at once would win the wait before the queue was looked at.
        HandlePendingEvents();
        return 1;
    }
    // Only for the fallback sleep: the timer itself keeps the exact due time.
    ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(due < 0 ? -due / 10000 : 0);

    UniqueHandle timer(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = due;
    if (!timer || !::SetWaitableTimer(timer.get(), &dueTime, 0, nullptr, nullptr, FALSE)) {
        // Without a timer the pause falls back to a plain sleep rather than spin.
        HandlePendingEvents();
        SleepUntil(deadline);
        return 1;
    }
    // Messages already in the queue when the wait starts do not wake it, and a pause
    // may begin inside a pass that has left some there: handle them first.
    HandlePendingEvents();
    HANDLE handle = timer.get();
    for (;;) {
        DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, kWakeMask);
        if (result == WAIT_OBJECT_0) break;
        if (result == WAIT_FAILED) {
            SleepUntil(deadline);
            break;
        }
        HandlePendingEvents();
    }
    return 1;
}

bool WaitWithEvents(void* object, unsigned long timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    HANDLE handle = static_cast<HANDLE>(object);
    auto left = [deadline] {
        ULONGLONG now = ::GetTickCount64();
        return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    // A close seen here must not end the program: the caller has begun something
    // that has to be finished first. The quit stays queued for the next pause or the
    // message loop, and the rest of the wait handles nothing, for the queued quit
    // would wake it at once, again and again.
    if (ProcessPendingEvents(nullptr)) return ::WaitForSingleObject(handle, left()) == WAIT_OBJECT_0;
    for (;;) {
        DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, left(), kWakeMask);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED) return false;
        if (ProcessPendingEvents(nullptr)) return ::WaitForSingleObject(handle, left()) == WAIT_OBJECT_0;
    }
}
