#pragma once

#include <atomic>

// Long work on worker threads (decoding a file, an engine run, checking a model's digest)
// looks at this flag between steps and gives up once it is set. Murmel sets it when it
// quits: Qt joins its thread pool as the application object goes away, and a quit must
// not wait for an hour of audio.
namespace WorkerStop {

inline std::atomic<bool> &flag()
{
    static std::atomic<bool> stop{false};
    return stop;
}

inline void requestAll() { flag().store(true); }
inline bool requested() { return flag().load(std::memory_order_relaxed); }

} // namespace WorkerStop
