#pragma once
// A large buffer mapped straight from the kernel and unmapped when it goes,
// so its memory returns to the system at once instead of staying in the
// allocator's arenas after a burst of work.

#include <cstddef>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace plx {

class PageBuffer {
public:
    PageBuffer() = default;
    // Throws std::bad_alloc when the mapping cannot be made.
    explicit PageBuffer(std::size_t capacity) : capacity_(capacity) {
        if (capacity_ == 0) return;
        void* p = ::mmap(nullptr, capacity_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<unsigned char*>(p);
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    PageBuffer(PageBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~PageBuffer() { release(); }

    unsigned char* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    void release() {
        if (data_) ::munmap(data_, capacity_);
        data_ = nullptr;
        capacity_ = 0;
    }

    unsigned char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace plx
