// The bytes of one fuzz input, read from the front. Reads past the end give zeros, so
// that every input, however short, drives a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zelvane::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }

  // The next byte, or 0.
  std::uint8_t next() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

  // The next sizeof(T) bytes as a T, every bit pattern (so NaN and infinities come
  // up on their own); T{} when fewer are left, which then stay unread.
  template <class T>
  T raw() {
    T value{};
    if (size_ >= sizeof value) {
      std::memcpy(&value, data_, sizeof value);
      data_ += sizeof value;
      size_ -= sizeof value;
    }
    return value;
  }

  // A count byte, then up to 15 arbitrary bytes.
  std::string text() {
    std::string value;
    for (int n = next() % 16; n > 0 && !empty(); --n) value.push_back(static_cast<char>(next()));
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace zelvane::fuzz
