// Debian's Qt is not built with ThreadSanitizer. A QMutex that has to wait is taken and given back inside the
// library, where the sanitizer sees nothing, so data handed from one thread to another under our own QMutex
// would be reported as a race. These definitions take the place of the library's entry points for calls
// from our code (the library's calls to itself stay bound inside it, so its own locking stays unseen): each
// calls the library's function and tells the sanitizer what it did, as its interceptors do for pthread.
// Nothing is suppressed; Qt's cross-thread events (queued signals) stay invisible, which is why the drivers
// hand data over by direct calls under the product's locks only.
#include <QMutex>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace {
template <typename Function> Function library(const char* symbol)
{
    void* found = dlsym(RTLD_NEXT, symbol);
    if (!found) {
        std::fprintf(stderr, "tsan: %s not found in Qt\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = library<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = library<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = library<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

// The slow paths of the inline QBasicMutex::lock and unlock (their fast paths are atomics the sanitizer
// sees).
void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = library<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    real(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = library<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto real = library<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    real(this);
}
