// Starting a run from the window, and choosing the target with the file dialog.
#pragma once
#include <string>

#include "ui/window_services.h"

// The file dialog's name buffer, terminator included.
constexpr size_t kBrowseBufferSize = 250;

// Apply button or Alt+A: takes the path box's text as the target and runs,
// unless the box is empty.
void ApplyClicked(WindowHost& host);
// One run with the controls locked; returns the run's result, already shown.
ResultCode RunApply(WindowHost& host);
// Browse button or Alt+B: the file dialog, starting from the path box's text.
void BrowseForTarget(WindowHost& host);
// The dialog's start name for the path box's text: "." and a trailing
// backslash are turned into the directory's own entry so the dialog opens
// inside it. Empty when the name would not fit the dialog's buffer.
std::string BrowseStartText(const std::string& pathText);
