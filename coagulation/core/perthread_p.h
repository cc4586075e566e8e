#ifndef PERTHREAD_P_H
#define PERTHREAD_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/qglobal.h>

#ifdef Q_OS_WIN
#include <QtCore/QAtomicInt>
#include <QtCore/qt_windows.h>
#endif

// The library is linked by its applications, not loaded as a plug-in, so its
// per-thread state can live in the static thread-local block: one
// instruction to reach instead of a call into the dynamic loader.
#if defined(__GNUC__) && defined(__ELF__)
#define CORE_STATIC_TLS __attribute__((tls_model("initial-exec")))
#else
#define CORE_STATIC_TLS
#endif

// One T per thread, made on first use and destroyed with the thread's other
// thread-local objects. Unlike a plain thread_local object it can still be
// asked for afterwards: at the end of a thread, and for the main thread
// during the whole of process exit (static destructors, exit handlers), when
// the application's own objects may still call into the library. It then
// answers null, and the caller does without.
#ifdef Q_OS_WIN
// Windows: fiber-local storage, whose clean-up runs in the ending thread
// before anyone joining it returns. MinGW's thread_local is emulated, and the
// emulation frees a thread's storage before the destructors of its
// thread_local objects run. For the main thread, the end is the library's
// unloading at process exit, once the application's own static objects are
// gone.
template<typename T>
class PerThread
{
public:
    static T *get()
    {
        const Slot &slot = Slot::instance();
        if (Q_UNLIKELY(slot.freed.loadRelaxed()))
            return nullptr;
        void *value = FlsGetValue(slot.index);
        if (Q_LIKELY(value))
            return value == ended() ? nullptr : static_cast<T *>(value);
        T *object = new T;
        if (!FlsSetValue(slot.index, object)) {
            delete object;
            return nullptr;
        }
        return object;
    }

private:
    struct Slot
    {
        DWORD index = FlsAlloc(&destroy);
        QAtomicInt freed = 0;

        static Slot &instance()
        {
            static Slot slot;
            return slot;
        }
        ~Slot()
        {
            // Ended first; then what each thread still has goes, the main
            // thread's too.
            freed.storeRelaxed(1);
            FlsFree(index);
        }
    };

    static void *ended()
    {
        static char marker;
        return &marker;
    }

    static void WINAPI destroy(void *value)
    {
        if (!value || value == ended())
            return;
        // Ended first: what the object's destructor calls gets no new one.
        FlsSetValue(Slot::instance().index, ended());
        delete static_cast<T *>(value);
    }
};
#else
template<typename T>
class PerThread
{
public:
    static T *get()
    {
        State &state = s_state; // one look-up of the thread's storage
        if (Q_UNLIKELY(!state.object) && !state.ended) {
            // Registered before the object exists, so that it is there to
            // destroy it.
            static thread_local Cleanup cleanup;
            state.object = cleanup.object = new T;
        }
        return state.object;
    }

private:
    // Trivially destructible, so that it stays readable after the thread's
    // objects with destructors are gone.
    struct State
    {
        T *object;
        bool ended;
    };

    // Owns what it frees: where thread-local storage is emulated (MinGW),
    // the state may be gone, or back empty, by the time this runs.
    struct Cleanup
    {
        T *object = nullptr;
        ~Cleanup()
        {
            // Ended first: what the object's destructor calls gets no new one.
            State &state = s_state;
            state.object = nullptr;
            state.ended = true;
            delete object;
        }
    };

    static thread_local State s_state CORE_STATIC_TLS;
};

template<typename T>
thread_local typename PerThread<T>::State PerThread<T>::s_state CORE_STATIC_TLS = {nullptr, false};

#endif

#endif // PERTHREAD_P_H
