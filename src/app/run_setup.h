// The choice of run mode: quiet, windowed, or the message boxes when the window cannot come up.
// The exit code tells an admin how the run went.
#pragma once

// Runs the setup in the mode its environment asks for. Ends the process itself wherever the
// exit code is not 0; returns when the run ended well.
void run_setup();
