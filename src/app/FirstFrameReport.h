#pragma once

class QQuickWindow;

namespace tmb {

// Start-up timing for the benchmark: when TEMBORA_REPORT_FIRST_FRAME is set, the
// program prints "first frame after N ms" (counted from the start of the process,
// as the kernel recorded it) when the window has drawn once, and quits.
void reportFirstFrameIfRequested(QQuickWindow* window);

} // namespace tmb
