#include "background_task.h"

namespace {

SRWLOCK slot_lock = SRWLOCK_INIT;
UniqueHandle slot_task;

class SlotGuard {
public:
    SlotGuard() { AcquireSRWLockExclusive(&slot_lock); }
    ~SlotGuard() { ReleaseSRWLockExclusive(&slot_lock); }
    SlotGuard(const SlotGuard&) = delete;
    SlotGuard& operator=(const SlotGuard&) = delete;
};

}  // namespace

void BackgroundTaskSlot::put(UniqueHandle task) {
    UniqueHandle displaced;
    {
        SlotGuard guard;
        displaced = std::move(slot_task);
        slot_task = std::move(task);
    }
    // `displaced` closes here, outside the lock; its thread keeps running.
}

UniqueHandle BackgroundTaskSlot::take() {
    SlotGuard guard;
    return std::move(slot_task);
}

bool wait_for_background_task() {
    // The lock is held only to take the handle, never while waiting.
    UniqueHandle task = BackgroundTaskSlot::take();
    if (!task) return true;
    return WaitForSingleObject(task.get(), INFINITE) == WAIT_OBJECT_0;
}
