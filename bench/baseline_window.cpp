// The baseline Quarvel is measured against: a bare Win32 program with one window
// of the same size, a button and a label, and nothing else.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"BaselineWindow";
    ::RegisterClassExW(&wc);
    HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"Baseline", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 262, 309, nullptr, nullptr, instance, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Button", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 18, 82, 104, 34, window,
                      nullptr, instance, nullptr);
    ::CreateWindowExW(0, L"STATIC", L"Label", WS_CHILD | WS_VISIBLE | SS_CENTER, 9, 125, 233, 24, window, nullptr,
                      instance, nullptr);
    ::ShowWindow(window, SW_SHOWNORMAL);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
