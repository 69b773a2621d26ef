#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace vantrel {

/**
 * Fixed-size read buffers shared by every connection of the process. A connection takes one only while bytes
 * are on their way, so idle connections hold none, and busy ones reuse the same few blocks instead of allocating
 * for every read. Thread-safe.
 */
class BufferPool {
public:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    /** One buffer taken from the pool; goes back to it when destroyed. */
    class Buffer {
    public:
        Buffer() = default;
        Buffer(Buffer&&) noexcept = default;
        Buffer& operator=(Buffer&& other) noexcept;
        ~Buffer();

        char* data() { return m_block.get(); }
        const char* data() const { return m_block.get(); }
        static constexpr std::size_t size() { return kBufferSize; }
        explicit operator bool() const { return m_block != nullptr; }

    private:
        friend class BufferPool;
        Buffer(BufferPool* pool, std::unique_ptr<char[]> block);
        void giveBack();

        BufferPool* m_pool = nullptr; // not owned; the pool outlives its buffers
        std::unique_ptr<char[]> m_block;
    };

    /** The pool of the process. */
    static BufferPool& shared();

    Buffer take();

private:
    void giveBack(std::unique_ptr<char[]> block);

    static constexpr std::size_t kMaxIdleBlocks = 64;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<char[]>> m_idle; // guarded by m_mutex
};

} // namespace vantrel
