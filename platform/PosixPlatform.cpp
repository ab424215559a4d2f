// The platform seam on systems without Win32: POSIX file offsets, signals and resource
// limits, and the standard library's threads. A "window" here is a small message queue that
// a front end waits on.
#include "platform/Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

int fileLength(FILE* file, uint64_t* length) {
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || status.st_size < 0) {
        return 0;
    }
    *length = static_cast<uint64_t>(status.st_size);
    return 1;
}

uint64_t monotonicMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) ? 1 : 0;
}

int standardErrorColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return 80;
    }
    return size.ws_col;
}

namespace {

// The processors a quota of `quota` microseconds per `period` allows, rounded up; 0 when
// the text holds no quota ("max", or nothing readable).
unsigned processorsInQuota(const std::string& quotaText, const std::string& periodText) {
    char* end = nullptr;
    const long long quota = strtoll(quotaText.c_str(), &end, 10);
    if (end == quotaText.c_str() || quota <= 0) {
        return 0;
    }
    const long long period = strtoll(periodText.c_str(), &end, 10);
    if (end == periodText.c_str() || period <= 0) {
        return 0;
    }
    const long long processors = (quota + period - 1) / period;
    return processors > 0x10000 ? 0x10000u : static_cast<unsigned>(processors);
}

std::string firstLineOf(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The tightest CPU quota on the way from this process's cgroup up to the root: a limit set
// on a parent (a systemd slice, a container) holds for everything below it. cgroup v2 has
// one file, cpu.max ("QUOTA PERIOD" or "max PERIOD"); v1 two, under the cpu controller.
// 0 when none is set or none can be read.
unsigned cgroupProcessorQuota() {
    std::ifstream membership("/proc/self/cgroup");
    std::string line;
    unsigned tightest = 0;
    const auto consider = [&tightest](unsigned processors) {
        if (processors != 0 && (tightest == 0 || processors < tightest)) {
            tightest = processors;
        }
    };
    while (std::getline(membership, line)) {
        // "0::/user.slice/..." for v2; "4:cpu,cpuacct:/docker/..." for v1's cpu controller.
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const bool unified = line.compare(0, first, "0") == 0 && controllers.empty();
        const bool cpuV1 = (',' + controllers + ',').find(",cpu,") != std::string::npos;
        if (!unified && !cpuV1) {
            continue;
        }
        for (;;) {
            if (unified) {
                const std::string limit = firstLineOf("/sys/fs/cgroup" + path + "/cpu.max");
                const size_t space = limit.find(' ');
                if (space != std::string::npos) {
                    consider(processorsInQuota(limit.substr(0, space), limit.substr(space + 1)));
                }
            } else {
                for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
                    const std::string folder = std::string(mount) + path;
                    consider(processorsInQuota(firstLineOf(folder + "/cpu.cfs_quota_us"),
                                               firstLineOf(folder + "/cpu.cfs_period_us")));
                }
            }
            if (path.empty() || path == "/") {
                break;
            }
            const size_t slash = path.rfind('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return tightest;
}

} // namespace

unsigned usableProcessorCount() {
    unsigned processors = std::thread::hardware_concurrency();
#if defined(__linux__)
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        processors = static_cast<unsigned>(CPU_COUNT(&allowed));
    }
    const unsigned quota = cgroupProcessorQuota();
    if (quota != 0 && quota < processors) {
        processors = quota;
    }
#endif
    return processors > 0 ? processors : 1;
}

void moveOffCallersProcessor(std::thread& thread) {
#if defined(__linux__)
    const pthread_t handle = thread.native_handle();
    const int here = sched_getcpu();
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (here < 0 || here >= CPU_SETSIZE ||
        pthread_getaffinity_np(handle, sizeof allowed, &allowed) != 0 ||
        !CPU_ISSET(here, &allowed)) {
        return;
    }
    cpu_set_t others = allowed;
    CPU_CLR(here, &others);
    // A thread only queued moves as soon as its mask leaves out where it waits; given its
    // whole mask back, it stays where it now is until the system has a reason to move it.
    if (CPU_COUNT(&others) > 0 && pthread_setaffinity_np(handle, sizeof others, &others) == 0) {
        pthread_setaffinity_np(handle, sizeof allowed, &allowed);
    }
#else
    static_cast<void>(thread);
#endif
}

namespace {

// Empties a locked plain file, looking at its length again now that no other job can change
// it. A file that is already empty (a new one) is left as it is: truncating it anyway makes
// ext4 take it for a file being replaced and push all of it to the disk at close.
bool emptyOnceLocked(int descriptor, int* error) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || (status.st_size != 0 && ftruncate(descriptor, 0) != 0)) {
        *error = errno;
        return false;
    }
    return true;
}

} // namespace

FILE* createOutputFile(const char* path, int mustBeNew, int* error) {
    // Not O_TRUNC: the file is emptied only once the lock is held. O_EXCL also refuses a
    // dangling link, which O_CREAT alone would follow to create its target.
    const int descriptor =
        open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (mustBeNew != 0 ? O_EXCL : 0), 0666);
    if (descriptor < 0) {
        *error = errno;
        return nullptr;
    }
    // Only a plain file is locked and emptied: a device (/dev/null) or a FIFO is shared by
    // nature, and two programs writing /dev/null at once must both succeed.
    struct stat status {};
    FILE* file = nullptr;
    if (fstat(descriptor, &status) != 0) {
        *error = errno;
    } else if (S_ISREG(status.st_mode) && flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? EAGAIN : errno;
    } else if ((!S_ISREG(status.st_mode) || emptyOnceLocked(descriptor, error)) &&
               (file = fdopen(descriptor, "wb")) == nullptr) {
        *error = errno;
    }
    if (file == nullptr) {
        close(descriptor);
    }
    return file;
}

int streamCanSeek(FILE* file) {
    const int descriptor = fileno(file);
    struct stat status {};
    const int flags = fcntl(descriptor, F_GETFL);
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && flags >= 0 &&
                   (flags & O_APPEND) == 0 && lseek(descriptor, 0, SEEK_CUR) == 0
               ? 1
               : 0;
}

FILE* standardOutputStream() {
    return stdout;
}

void keepStandardStreamsOpen() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            // Opened lowest number first, so it takes exactly this one.
            const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != descriptor) {
                close(opened);
            }
        }
    }
}

FILE* createTemporaryFile(char* path, size_t capacity, int* error) {
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0') {
        folder = "/tmp";
    }
    const int length = snprintf(path, capacity, "%s/convoluzione-XXXXXX", folder);
    if (length < 0 || static_cast<size_t>(length) >= capacity) {
        *error = ENAMETOOLONG;
        return nullptr;
    }
    const int descriptor = mkstemp(path);
    if (descriptor < 0) {
        *error = errno;
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        *error = errno;
        close(descriptor);
        unlink(path);
    }
    return file;
}

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t interruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kInterrupts) {
        sigaddset(&set, signalNumber);
    }
    return set;
}

} // namespace

int readStandardInput(void* buffer, size_t capacity, size_t* got, uint32_t waitMs, int* error) {
    // Interrupts are let in only while ppoll waits, and they end its wait. One that came
    // since the caller last looked is seen below, or held by the kernel until ppoll opens
    // for it: none slips in between a look and the wait. Every one thus lands inside the
    // wait, which also matters under ThreadSanitizer: it defers a signal that lands
    // elsewhere to a later call of its own choosing, and under load it sometimes never ran
    // the handler for one that landed between two waits of a plain poll. Waiting in ppoll,
    // not in read: with restarted system calls a blocked read would not return for it.
    const sigset_t interrupts = interruptSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    int ready = 0;
    if (interruptReceived() == 0) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const timespec wait{static_cast<time_t>(waitMs / 1000),
                            static_cast<long>(waitMs % 1000) * 1000000};
        ready = ppoll(&input, 1, &wait, &previous);
    }
    const int pollError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (ready == 0 || (ready < 0 && pollError == EINTR)) {
        return 2;
    }
    if (ready < 0) {
        *error = pollError;
        return 0;
    }
    const ssize_t count = read(STDIN_FILENO, buffer, capacity);
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return 2;
        }
        *error = errno;
        return 0;
    }
    *got = static_cast<size_t>(count);
    return 1;
}

int fileOpenProblem(const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        return errno;
    }
    if (S_ISDIR(status.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(status.st_mode)) {
        return ESPIPE; // a pipe or a device: nothing the reader can seek through
    }
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK);
    if (descriptor < 0) {
        return errno;
    }
    close(descriptor);
    return 0;
}

namespace {

// Written by the signal handler, on whichever thread the signal lands: it must be lock-free.
std::atomic<int> firstInterrupt{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

void setAction(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // While one interrupt is being recorded the others wait, so of two that come together
    // exactly one is the first. Interrupted system calls resume: a read or a write of the
    // job must not fail because the handler ran on its thread.
    action.sa_mask = interruptSet();
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

// Written by the handler before it ends the process at once; read only there.
std::atomic<const char*> abruptEndRemoves{nullptr};
// Interrupts received so far.
std::atomic<int> interruptCount{0};
static_assert(std::atomic<const char*>::is_always_lock_free, "the handler reads it");

void onInterrupt(int signalNumber) {
    int none = 0;
    firstInterrupt.compare_exchange_strong(none, signalNumber);
    if (interruptCount.fetch_add(1) + 1 >= kInterruptsToEndAtOnce) {
        // Deliberate: end now, by this signal's own default action. It is blocked while its
        // handler runs, so it arrives again the moment the handler returns.
        const char* temporary = abruptEndRemoves.load();
        if (temporary != nullptr) {
            unlink(temporary);
        }
        setAction(signalNumber, SIG_DFL);
        raise(signalNumber);
    }
}

} // namespace

void catchInterrupts() {
    for (int signalNumber : kInterrupts) {
        struct sigaction current {};
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            setAction(signalNumber, onInterrupt);
        }
    }
    // Past the file-size limit a write then fails with EFBIG, and to a pipe nobody reads
    // any more with EPIPE; the job reports either like a full disk, keeping a valid file,
    // and a message that cannot be written changes nothing.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

void removeOnAbruptEnd(const char* path) {
    abruptEndRemoves.store(path);
}

int interruptReceived() {
    return firstInterrupt.load();
}

int endAsInterrupted(int interrupt) {
    setAction(interrupt, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, interrupt);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(interrupt);
    return 128 + interrupt; // not reached: the default action of every interrupt ends the process
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
    // Interrupts are for the thread that starts the job: the worker, and the threads it
    // starts in turn, are born with them blocked. So the front end sees every one, and none
    // cuts short a call of the job's that waits (opening a FIFO nobody has opened yet).
    const sigset_t interrupts = interruptSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    struct RestoreMask {
        const sigset_t& mask;
        ~RestoreMask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{previous};
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
        // Notified under the lock: once the front end has the message it may destroy the
        // queue, so the worker must not touch it after releasing the lock.
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->messages.push_back(message);
        queue->arrived.notify_one();
    } catch (...) {
        return 0;
    }
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
