// A thread with a stack of a given size on POSIX: pthread attributes.
#include "platform/thread.h"

#include <pthread.h>

#include "platform/backend.h"

namespace platform {

Status runWithStack(std::size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err != 0) {
        return backend::failure(StatusCode::io_error, err, "pthread_attr_init failed");
    }
    pthread_t thread;
    err = pthread_attr_setstacksize(&attr, stackBytes);
    if (err == 0) {
        err = pthread_create(
            &thread, &attr,
            [](void* arg) -> void* {
                (*static_cast<const std::function<void()>*>(arg))();
                return nullptr;
            },
            const_cast<std::function<void()>*>(&work));
    }
    pthread_attr_destroy(&attr);
    if (err != 0) {
        return backend::failure(StatusCode::io_error, err, "pthread_create failed");
    }
    pthread_join(thread, nullptr);
    return Status::success();
}

}  // namespace platform
