#include "ShellCore/BufferPool.h"

namespace vantrel {

BufferPool::Buffer::Buffer(BufferPool* pool, std::unique_ptr<char[]> block)
    : m_pool(pool)
    , m_block(std::move(block))
{
}

BufferPool::Buffer& BufferPool::Buffer::operator=(Buffer&& other) noexcept
{
    if (this != &other) {
        giveBack();
        m_pool = other.m_pool;
        m_block = std::move(other.m_block);
    }
    return *this;
}

BufferPool::Buffer::~Buffer()
{
    giveBack();
}

void BufferPool::Buffer::giveBack()
{
    if (m_block) {
        m_pool->giveBack(std::move(m_block));
    }
}

BufferPool& BufferPool::shared()
{
    static BufferPool pool;
    return pool;
}

BufferPool::Buffer BufferPool::take()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            auto block = std::move(m_idle.back());
            m_idle.pop_back();
            return Buffer(this, std::move(block));
        }
    }
    return Buffer(this, std::make_unique_for_overwrite<char[]>(kBufferSize));
}

void BufferPool::giveBack(std::unique_ptr<char[]> block)
{
    std::lock_guard lock(m_mutex);
    if (m_idle.size() < kMaxIdleBlocks) {
        m_idle.push_back(std::move(block));
    }
}

} // namespace vantrel
