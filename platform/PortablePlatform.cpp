// The platform seam on systems without Win32: POSIX file offsets and the standard
// library's threads. A "window" here is a small message queue that a front end waits on.
#include "platform/Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

int seekAbsolute(FILE* file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 ? 1 : 0;
}

int tellPosition(FILE* file, uint64_t* position) {
    const off_t offset = ftello(file);
    if (offset < 0) {
        return 0;
    }
    *position = static_cast<uint64_t>(offset);
    return 1;
}

int truncateFile(FILE* file, uint64_t length) {
    if (fflush(file) != 0 || length > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0 ? 1 : 0;
}

int standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) ? 1 : 0;
}

namespace {

// Shared by the handle and the running thread, so either may be released first.
struct ThreadRecord {
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    std::thread thread;
};

struct ThreadHandleRecord {
    std::shared_ptr<ThreadRecord> record;
};

struct EventRecord {
    std::atomic<int> signalled{0};
};

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<uint32_t> messages;
};

} // namespace

ThreadHandle startWorkerThread(WorkerEntry entry, void* argument) {
    auto* handle = new (std::nothrow) ThreadHandleRecord;
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        handle->record = std::make_shared<ThreadRecord>();
        std::shared_ptr<ThreadRecord> shared = handle->record;
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->thread = std::thread([shared, entry, argument] {
            entry(argument);
            std::lock_guard<std::mutex> done(shared->mutex);
            shared->finished = true;
            shared->ended.notify_all();
        });
    } catch (...) {
        delete handle;
        return nullptr;
    }
    return handle;
}

int waitForThread(ThreadHandle thread, uint32_t timeoutMs) {
    if (thread == nullptr) {
        return 0;
    }
    ThreadRecord& record = *static_cast<ThreadHandleRecord*>(thread)->record;
    std::unique_lock<std::mutex> lock(record.mutex);
    return record.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&record] { return record.finished; })
               ? 1
               : 0;
}

void closeThreadHandle(ThreadHandle thread) {
    if (thread == nullptr) {
        return;
    }
    auto* handle = static_cast<ThreadHandleRecord*>(thread);
    ThreadRecord& record = *handle->record;
    std::unique_lock<std::mutex> lock(record.mutex);
    if (record.finished) {
        lock.unlock();
        record.thread.join();
    } else {
        // The thread keeps its own reference to the record and ends on its own.
        record.thread.detach();
    }
    delete handle;
}

EventHandle createStopEvent() {
    return new (std::nothrow) EventRecord;
}

void signalStopEvent(EventHandle event) {
    if (event != nullptr) {
        static_cast<EventRecord*>(event)->signalled.store(1, std::memory_order_release);
    }
}

int stopEventSignalled(EventHandle event) {
    if (event == nullptr) {
        return 0;
    }
    return static_cast<EventRecord*>(event)->signalled.exchange(0, std::memory_order_acq_rel);
}

void closeStopEvent(EventHandle event) {
    delete static_cast<EventRecord*>(event);
}

int postJobMessage(WindowHandle window, uint32_t message) {
    if (window == nullptr) {
        return 0;
    }
    auto* queue = static_cast<MessageQueue*>(window);
    try {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->messages.push_back(message);
    } catch (...) {
        return 0;
    }
    queue->arrived.notify_one();
    return 1;
}

WindowHandle createMessageWindow() {
    return new (std::nothrow) MessageQueue;
}

int waitForMessage(WindowHandle window, uint32_t timeoutMs, uint32_t* message) {
    auto* queue = static_cast<MessageQueue*>(window);
    std::unique_lock<std::mutex> lock(queue->mutex);
    if (!queue->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [queue] { return !queue->messages.empty(); })) {
        return 0;
    }
    *message = queue->messages.front();
    queue->messages.pop_front();
    return 1;
}

void destroyMessageWindow(WindowHandle window) {
    delete static_cast<MessageQueue*>(window);
}
