#pragma once
// The installer's pages as dialog templates and procedures of the dialog
// layer (platform/dialog.h): the GTK host shows them, the scripted host runs
// them in tests.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/dialog.h"
#include "setup/setupflow.h"

// Dialog and control identifiers.
inline constexpr int kLicencePage = 102;
inline constexpr int kLicenceText = 1005;
inline constexpr int kAgreeBox = 1007;
inline constexpr int kNextButton = 1009;

inline constexpr int kTargetPage = 103;
inline constexpr int kTargetTitle = 1019;
inline constexpr int kTargetEdit = 1012;
inline constexpr int kBrowseButton = 1013;
inline constexpr int kDesktopBox = 1016;
inline constexpr int kStartMenuBox = 1017;
inline constexpr int kCustomBox = 1018;
inline constexpr int kBackButton = 1010;
inline constexpr int kInstallButton = 1011;

inline constexpr int kProgressPage = 104;
inline constexpr int kProgressBar = 1006;
inline constexpr int kProgressText = 1014;
inline constexpr int kFinishButton = 1015;
inline constexpr UINT_PTR kProgressTimer = 5;

inline constexpr int kConfirmPage = 106;
inline constexpr int kConfirmText = 1020;

// After the worker's end the progress page waits this long before it shows
// "Finish".
inline constexpr int kFinishPauseMs = 5000;

// Registers the four templates with the dialog layer.
void registerSetupPages();

// The installer's SetupUi over the dialog host in use; `showBackground`
// shows the full-screen background (none in tests).
std::unique_ptr<SetupUi> makeDialogUi(
    std::function<void(const std::string&)> showBackground,
    std::chrono::milliseconds finishPause = std::chrono::milliseconds(kFinishPauseMs));
