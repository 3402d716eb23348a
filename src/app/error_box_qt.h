// error_box_qt.h - the error box as a modal window: caption "F E H L E R", warning icon, OK.
#pragma once

#include <string_view>

// Shows `text` in the modal error box over the active window; returns once it is closed.
void ShowModalErrorBox(std::string_view text);
