#include "VaCommBuffer.h"

#include <algorithm>
#include <cstring>

namespace kobito {

void TVaCommBuffer::Allocate(std::size_t size) {
    data_ = std::make_unique<char[]>(size);
    size_ = size;
    count_ = 0;
}

void TVaCommBuffer::Release() {
    data_.reset();
    size_ = 0;
    count_ = 0;
}

bool TVaCommBuffer::Append(const char* bytes, std::size_t n) {
    if (n > Room())
        return false;
    if (n > 0)
        std::memcpy(data_.get() + count_, bytes, n);
    count_ += n;
    return true;
}

void TVaCommBuffer::Remove(std::size_t n) {
    n = std::min(n, count_);
    if (n < count_)
        std::memmove(data_.get(), data_.get() + n, count_ - n);
    count_ -= n;
}

} // namespace kobito
