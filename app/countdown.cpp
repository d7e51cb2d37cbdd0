#include "app/countdown.h"

#include "app/program.h"
#include "app/window.h"
#include "util/delay.h"

#include <string>

volatile int autoCloseArmed = 0;
int secondsLeft = 0;

namespace {

constexpr int kCountdownSeconds = 30;
constexpr int kShrunkHeight = 264;  // cuts the countdown line off the bottom

// Decimal digits without the runtime's formatted output, which alone would add a
// tenth to the size of the program.
std::wstring Decimal(int value) {
    wchar_t digits[12];
    wchar_t* end = digits + 12;
    wchar_t* at = end;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        *--at = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--at = L'-';
    return std::wstring(at, end);
}

std::wstring CountdownText(int seconds) {
    return L"打开无操作,将在" + Decimal(seconds) + L"秒,关闭!\r\n可点这里关闭倒计时!";
}

}  // namespace

void ArmAutoClose() {
    autoCloseArmed = 1;
    secondsLeft = kCountdownSeconds;
    SetLabelText(Ctl::透明标签4, CountdownText(secondsLeft));
}

void OnTimerTick() {
    secondsLeft = secondsLeft - 1;
    if (secondsLeft <= 0) EndProgram(0);
    SetLabelText(Ctl::透明标签4, CountdownText(secondsLeft));
}

void CancelAutoClose() {
    SetTimerPeriod(Ctl::时钟1, 0);
    SetLabelText(Ctl::透明标签4, L"本次已终止自动关闭功能!");
    autoCloseArmed = 0;
    DelayWithEvents(2000);
    SetWindowOuterHeight(kShrunkHeight);
    CentreWindow();
}

void OnCacheSizeGotFocus() { CancelAutoClose(); }
