// Files removed when the program is interrupted, the portable part: the table of armed files,
// which the back end's handler empties (see removal_on_interrupt.h).
#include "platform/removal_on_interrupt.h"

#include "platform/backend.h"

#include <atomic>
#include <mutex>

namespace platform {

namespace {

// A slot is taken (free to filling), filled and published (ready), and either given back
// (ready to free) by the thread that armed it or claimed (ready to removing) by the handler,
// never both: whoever loses the exchange leaves it alone.
enum SlotState : int { kFree, kFilling, kReady, kRemoving };

struct Slot {
    std::atomic<int> state{kFree};
    backend::RemovalTarget target;
};

static_assert(std::atomic<int>::is_always_lock_free, "the handler may use lock-free atomics only");

// Files armed at once: extract arms one at a time, create two.
constexpr int kSlots = 16;
Slot slots[kSlots];

constexpr uint32_t kTableFull = 8; // ERROR_NOT_ENOUGH_MEMORY

} // namespace

int backend::armRemoval(const Directory& directory, const char* name) {
    static std::once_flag handlers;
    std::call_once(handlers, catchInterrupts);
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        if (!describeRemoval(directory, name, slots[i].target)) {
            slots[i].state.store(kFree);
            return -1;
        }
        slots[i].state.store(kReady);
        return i;
    }
    setLastError(kTableFull);
    return -1;
}

void backend::removeArmedFiles() {
    for (Slot& slot : slots) {
        int expected = kReady;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) removeTarget(slot.target);
    }
}

bool RemovalOnInterrupt::arm(const Directory& directory, const char* name) {
    disarm();
    slot_ = systemCalls().armRemovalOnInterrupt(directory, name);
    return slot_ >= 0;
}

void RemovalOnInterrupt::disarm() {
    if (slot_ < 0) return;
    int expected = kReady;
    bool givenBack = slots[slot_].state.compare_exchange_strong(expected, kFree);
    slot_ = -1;
    // Otherwise the handler is removing the file on another thread and ends the program.
    if (!givenBack) backend::awaitTheEnd();
}

} // namespace platform
