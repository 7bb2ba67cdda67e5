#pragma once
// The standalone builder's dialog (148): shows how many pictures and songs
// the copy will carry, asks where to write it, and builds it on a worker
// thread while a progress bar shows how far it got; the dialog stays
// responsive and Cancel stops the build.
#include <functional>
#include <string>

#include "pack/standalone.h"
#include "platform/dialog.h"
#include "source/standalonesettings.h"

void registerStandaloneDialog();

// Runs dialog 148 owned by `owner`; `icon` is the settings menu's big icon.
// Returns 1 when a copy was built, 0 otherwise.
INT_PTR showStandaloneBuilder(HWND owner, HINSTANCE instance, HICON icon);

// What builds the copy (tests put their own here; by default the real
// builder with the running program and the user's name).
using StandaloneBuilder = std::function<StandaloneResult(
    const std::string& outputPath, const StandaloneSettings& prepared, const StandaloneProgress& progress)>;
StandaloneBuilder& standaloneBuilder();

// The message a failed build shows.
std::string standaloneFailureText(const StandaloneResult& result);

// The name of the user who builds a copy, for its greeting line: the full
// name of the account when it has one, else the login name.
std::string builderName();
