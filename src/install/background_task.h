// The one background task an installation may leave running (the host watch), and the wait
// for it before the process ends.
#pragma once
#include "win32_handles.h"

class BackgroundTaskSlot {
public:
    // Puts the task's thread handle in; a handle already there is released without waiting,
    // so that earlier task runs on unwaited.
    static void put(UniqueHandle task);
    // Takes the handle out and leaves the slot empty.
    static UniqueHandle take();
};

// Returns once the task that was in the slot has ended, or at once when the slot was empty.
// False when the system refused to wait on the task.
bool wait_for_background_task();
