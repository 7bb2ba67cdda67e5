#pragma once
// The Display Settings dialogs: 200 for one adapter, 201 with a tab per
// monitor for several.  They edit the adapters' display settings of the
// current application in memory; Cancel puts back what they were.  The
// settings save writes them to the registry.
#include "platform/dialog.h"
#include "shell/saverapp.h"

inline constexpr int kDisplaySettingsSingle = 200;
inline constexpr int kDisplaySettingsMulti = 201;

void registerDisplaySettingsDialogs();

// Dialog 200 when the current application has at most one adapter, else
// 201, owned by `parent`: 1 for OK, 2 for Cancel; 0 (and nothing shown)
// with no application published.
INT_PTR showDisplaySettingsDialog(HWND parent);

// The dialogs' procedure, on the current application.
INT_PTR displaySettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The explanation Help gives for an adapter (nullptr: none): a string id
// 2200..2209.
int displaySettingsHelpId(const AdapterInfo* adapter);
