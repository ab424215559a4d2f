#include "convolution/Workers.h"

#include <new>
#include <system_error>
#include <thread>

#include "platform/Platform.h"

unsigned runWorkers(unsigned count, WorkerTask task, void* context) {
    std::thread helpers[kMostWorkers - 1];
    const unsigned wanted = count < kMostWorkers ? count : kMostWorkers;
    unsigned started = 0;
    for (unsigned i = 1; i < wanted; ++i) {
        try {
            helpers[started] = std::thread(task, context, i);
        } catch (const std::system_error&) {
            break; // the system gives no more threads: work with those there are
        } catch (const std::bad_alloc&) {
            break;
        }
        moveOffCallersProcessor(helpers[started]);
        ++started;
    }
    task(context, 0);
    for (unsigned i = 0; i < started; ++i) {
        helpers[i].join();
    }
    return started + 1;
}
