#pragma once
// Which lock guards what, said in the code so that clang's -Wthread-safety (the thread-safety
// preset, `make`) checks it. GCC knows none of these attributes: there they expand to nothing.

#if defined(__clang__)
#define KELDRAN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KELDRAN_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) KELDRAN_THREAD_ANNOTATION(capability(name))
// A guard object that holds a lock for its lifetime.
#define SCOPED_CAPABILITY KELDRAN_THREAD_ANNOTATION(scoped_lockable)
// A field read and written only with the lock held.
#define GUARDED_BY(lock) KELDRAN_THREAD_ANNOTATION(guarded_by(lock))
// A pointer field whose pointee is read and written only with the lock held.
#define PT_GUARDED_BY(lock) KELDRAN_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function that its caller must call with the locks held.
#define REQUIRES(...) KELDRAN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that takes the locks and returns holding them.
#define ACQUIRE(...) KELDRAN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that lets go of locks its caller held.
#define RELEASE(...) KELDRAN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that takes the locks itself: its caller must not hold them.
#define EXCLUDES(...) KELDRAN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function the analysis cannot follow; each use says why.
#define NO_THREAD_SAFETY_ANALYSIS KELDRAN_THREAD_ANNOTATION(no_thread_safety_analysis)
