// status_strip.h - the line below the window's panels: which port backend drives the board,
// and whether moves run at real-time priority.
#pragma once

class QWidget;

// Writes the backend and priority state into the form's status line.
void ShowStatus(QWidget &form);
