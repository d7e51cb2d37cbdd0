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

std::wstring CountdownText(int seconds) {
    return L"打开无操作,将在" + std::to_wstring(seconds) + L"秒,关闭!\r\n可点这里关闭倒计时!";
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
