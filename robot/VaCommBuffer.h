#pragma once
#include <cstddef>
#include <memory>

namespace kobito {

// The write queue: one fixed block and the count of bytes queued in it.
// Not synchronised; the component guards it with its write lock.
class TVaCommBuffer {
public:
    void Allocate(std::size_t size);
    void Release();

    std::size_t Size() const { return size_; }
    std::size_t Count() const { return count_; }
    std::size_t Room() const { return size_ - count_; }
    const char* Data() const { return data_.get(); }

    // False, and nothing copied, when the bytes do not fit.
    bool Append(const char* bytes, std::size_t n);
    // Drops n bytes from the front and moves the rest up.
    void Remove(std::size_t n);

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t count_ = 0;
};

} // namespace kobito
