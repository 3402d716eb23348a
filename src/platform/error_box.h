// error_box.h - the one road by which the driver tells the operator of a failure.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Receives the German message text of one error box.
using ErrorBoxHandler = std::function<void(std::string_view text)>;

// Shows the error box with `text`; returns once the operator has seen it.
void showErrorBox(std::string_view text);

// Replaces the box: the window installs its modal box, tests capture the texts.
// An empty handler restores the default, which writes "F E H L E R: " and the text to stderr.
void setErrorBoxHandler(ErrorBoxHandler handler);

} // namespace platform
