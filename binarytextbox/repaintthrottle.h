#pragma once

#include <functional>

class QWidget;

// Redraws widgets whose content streams in (received data, its count) at most
// once per frame, and all of them in the same frame: a stream of small blocks
// would otherwise spend its time repainting. The first change after a quiet
// frame is drawn at once; changes within a frame are drawn when it ends.
// A frame ends with the first change that comes after its interval, so that
// a steady stream paints on the wake-ups its data brings; a timer ends it
// when no such change comes within FrameSlack.
namespace RepaintThrottle {

constexpr int FrameInterval = 40; // ms
constexpr int FrameSlack = 20;    // ms
// The longest a frame lasts: what a caller waits for a frame to end.
constexpr int LongestFrame = FrameInterval + FrameSlack;

// Call before changing the widget: its repaint then waits for the frame's end
// when a frame is running.
void Defer(QWidget *widget);

// For a change that is costly in itself (setting a line edit's text lays it
// out): runs `apply` at once when no frame is running, else once when the
// frame ends, however many calls came in the frame (the last one's `apply`
// runs). Nothing runs for a widget that has gone. With `everyFrames` above 1
// the widget's changes run at most once in that many frames: for a figure
// that changes with every block (a byte count), which no one reads faster
// and whose layout and drawing cost more than the data's own.
void Coalesce(QWidget *widget, std::function<void()> apply, int everyFrames = 1);

// Runs the changes held for the frame now, so that what is shown is up to
// date at once (before a check of the window's state, or a screenshot).
void Flush();

} // namespace RepaintThrottle
