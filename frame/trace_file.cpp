#include "frame/trace_file.h"

#include <atomic>

#include "frame/platform.h"

namespace {

std::atomic_ref<void*> File() {
    return std::atomic_ref<void*>(TraceFile.file);
}

}  // namespace

bool TraceFileOpen() {
    return File().load() != nullptr;
}

bool SetTraceFile(void* file) {
    void* none = nullptr;
    return File().compare_exchange_strong(none, file);
}

void* UnsetTraceFile() {
    return File().exchange(nullptr);
}

void CloseBetweenWrites(void* file) {
    const TraceTurn writing(TraceFile.writing);
    if (writing.held)
        PlatformClose(file);
}

bool AppendTraceText(const char* text, uint32_t length) {
    const TraceTurn writing(TraceFile.writing);
    if (!writing.held)
        return false;
    void* const file = File().load();
    return file == nullptr || PlatformAppend(file, text, length);
}

TraceTurn::TraceTurn(uint32_t& taken) : word(taken) {
    const uint32_t self = PlatformThreadId();
    uint32_t since = 0;
    for (bool waited = false;; waited = true) {
        uint32_t holder = 0;
        if (std::atomic_ref<uint32_t>(word).compare_exchange_strong(holder, self,
                                                                    std::memory_order_acquire)) {
            held = true;
            return;
        }
        if (holder == self) {
            held = taken_over = true;
            return;
        }
        if (!waited)
            since = PlatformMilliseconds();
        else if (PlatformMilliseconds() - since > kLongestTurnWait)
            return;
        PlatformYield();
    }
}

TraceTurn::~TraceTurn() {
    if (held)
        std::atomic_ref<uint32_t>(word).store(0, std::memory_order_release);
}
