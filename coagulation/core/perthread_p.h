#ifndef PERTHREAD_P_H
#define PERTHREAD_P_H

//
//  This header is internal to the library and is not installed.
//

// One T per thread, made on first use and destroyed with the thread's other
// thread-local objects. Unlike a plain thread_local object it can still be
// asked for afterwards: at the end of a thread, and for the main thread
// during the whole of process exit (static destructors, exit handlers), when
// the application's own objects may still call into the library. It then
// answers null, and the caller does without.
template<typename T>
class PerThread
{
public:
    static T *get()
    {
        if (!s_object && !s_ended) {
            // Registered before the object exists, so that it is there to
            // destroy it.
            static thread_local Cleanup cleanup;
            s_object = new T;
        }
        return s_object;
    }

private:
    struct Cleanup
    {
        ~Cleanup()
        {
            delete s_object;
            s_object = nullptr;
            s_ended = true;
        }
    };

    // Trivially destructible, so that they stay readable after the thread's
    // objects with destructors are gone.
    static thread_local T *s_object;
    static thread_local bool s_ended;
};

template<typename T>
thread_local T *PerThread<T>::s_object = nullptr;
template<typename T>
thread_local bool PerThread<T>::s_ended = false;

#endif // PERTHREAD_P_H
