#pragma once

#include "nativefiles.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Closes the scripts' old files on a few threads of its own. The last close of a replaced file
// frees its blocks, which on some disks waits for the device each time; several at once overlap
// those waits. Closes what is left, and waits for them, when it is destroyed.
class BackgroundCloser
{
public:
    // Enough threads to overlap the device's waits; enough files waiting to keep them busy.
    static constexpr std::size_t kThreads = 4;
    static constexpr std::size_t kMostWaiting = 256;

    // At most `mostWaiting` files wait; past that the caller closes its own.
    BackgroundCloser(std::size_t threads, std::size_t mostWaiting);
    BackgroundCloser(const BackgroundCloser &) = delete;
    BackgroundCloser &operator=(const BackgroundCloser &) = delete;
    ~BackgroundCloser();

    void close(NativeFile file);
    // Waits until every file given so far is closed: until then, their blocks may not be free.
    void waitIdle();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<NativeFile> m_queue;
    std::size_t m_closing = 0;
    std::size_t m_mostWaiting = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
