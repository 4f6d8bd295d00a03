#pragma once
// What the system says about disturbing the user now, read for the intake's waiting line.
namespace tindra::win32 {

// True while the user should not be disturbed: the platform's notification state says
// so (away, busy, full-screen Direct3D, presenting), or the foreground window covers
// its whole monitor, is neither maximized nor captioned, and is not the desktop or the
// shell (which that state leaves out on some systems). A few calls into the window
// system, no waiting.
bool UserShouldNotBeDisturbed();

}  // namespace tindra::win32
