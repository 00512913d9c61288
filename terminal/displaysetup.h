#pragma once

// Settings for the display connection that must be made before the
// application object exists.
namespace DisplaySetup {

// On X11 the window's repaints go to the server through the connection
// instead of shared-memory images. Received data repaints a few small
// rectangles many times a second; with shared memory each flush waits for
// the server to say it has read the image, which costs more than sending
// the few kilobytes themselves and several wakeups per frame. A user who
// sets QT_XCB_NO_MITSHM keeps what they set.
void Prepare();

} // namespace DisplaySetup
