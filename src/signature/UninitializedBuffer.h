#pragma once
// A byte block of fixed size whose bytes are left as the allocator gives them: pages that
// are never written never become resident, which matters for large streaming buffers.
#include <cstddef>
#include <memory>

class CUninitializedBuffer {
public:
    explicit CUninitializedBuffer(std::size_t size) : m_size(size), m_data(std::allocator<char>().allocate(size)) {}
    ~CUninitializedBuffer() { std::allocator<char>().deallocate(m_data, m_size); }

    CUninitializedBuffer(const CUninitializedBuffer&) = delete;
    CUninitializedBuffer& operator=(const CUninitializedBuffer&) = delete;

    char* data() { return m_data; }
    std::size_t size() const { return m_size; }

private:
    std::size_t m_size;
    char* m_data;
};
