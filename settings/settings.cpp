#include "settings/settings.h"

#include "app/countdown.h"
#include "app/program.h"

std::wstring ConfigFilePath() { return RunDirectory() + L"\\Quarvel.ini"; }

void LoadSettingsAndAutoStart() {}

void SaveSettings() {}

void OnCacheSizeLostFocus() { SaveSettings(); }

void OnAutoRunBoxClicked() {
    CancelAutoClose();
    SaveSettings();
}
