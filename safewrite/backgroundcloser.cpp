#include "backgroundcloser.h"

BackgroundCloser::BackgroundCloser(std::size_t threads, std::size_t mostWaiting)
    : m_mostWaiting(mostWaiting)
{
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

BackgroundCloser::~BackgroundCloser()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void BackgroundCloser::close(NativeFile file)
{
    if (!file)
        return;
    // Past that many waiting, the caller closes its own: the limit of open files is near.
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.size() < m_mostWaiting) {
            m_queue.push_back(std::move(file));
            m_wake.notify_one();
            return;
        }
    }
    file.reset();
}

void BackgroundCloser::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        NativeFile file = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_closing;
        lock.unlock();
        file.reset();
        lock.lock();
        if (--m_closing == 0 && m_queue.empty())
            m_idle.notify_all();
    }
}

void BackgroundCloser::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && m_closing == 0; });
}
