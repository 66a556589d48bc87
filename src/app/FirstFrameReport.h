#pragma once

class QQuickWindow;

namespace tmb {

class WorkstationController;

// Start-up timing for the benchmark: when TEMBORA_REPORT_FIRST_FRAME is set, the
// program prints "first frame after N ms" (counted from the start of the process,
// as the kernel recorded it) when the window has drawn once, and quits.
void reportFirstFrameIfRequested(QQuickWindow* window);

// The window's other figures for the benchmark, each printed to standard output, then
// the program quits. Both start 3 s after the first frame, once start-up work is over.
// - TEMBORA_REPORT_VIEW_SWITCH set: shows each view twice in turn (modes 1 to 9, then
//   0) and prints "view M shown after N ms" for each: from the mode change to the end
//   of the next frame swap.
// - TEMBORA_REPORT_IDLE_CPU=S: stays on PLAY with nothing sounding for S seconds and
//   prints "idle CPU X % of one core over S s, F frames" (the process's CPU time, all
//   its threads, against wall time).
void reportWindowFiguresIfRequested(QQuickWindow* window, WorkstationController* controller);

} // namespace tmb
