#include "background_task.h"

namespace {

SRWLOCK slot_lock = SRWLOCK_INIT;
UniqueHandle slot_task;

}  // namespace

void BackgroundTaskSlot::put(UniqueHandle task) {
    UniqueHandle displaced;
    {
        ExclusiveLock guard(slot_lock);
        displaced = std::move(slot_task);
        slot_task = std::move(task);
    }
    // `displaced` closes here, outside the lock; its thread keeps running.
}

UniqueHandle BackgroundTaskSlot::take() {
    ExclusiveLock guard(slot_lock);
    return std::move(slot_task);
}

bool wait_for_background_task() {
    // The lock is held only to take the handle, never while waiting.
    UniqueHandle task = BackgroundTaskSlot::take();
    if (!task) return true;
    return WaitForSingleObject(task.get(), INFINITE) == WAIT_OBJECT_0;
}
