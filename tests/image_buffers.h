// SPDX-License-Identifier: MIT
//
// Images laid out as a caller's might be, watched for stray accesses: a
// source whose last byte is the last readable one before an inaccessible
// page (a read one element too far faults), and a destination fenced with
// guard bytes before it, after it and in the gaps between its rows (a write
// outside the rows shows).  Rows may start at any byte and any stride.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

constexpr uint8_t GUARD = 0xA5;

// `bytes` copied so that its last byte ends a page and the next page cannot
// be read.
class FencedBytes {
 public:
  explicit FencedBytes(const std::vector<uint8_t>& bytes) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t data_pages = (bytes.size() + page - 1) / page;
    mapped_ = (data_pages + 1) * page;
    base_ = static_cast<uint8_t*>(
        mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + data_pages * page, page, PROT_NONE);
    data_ = base_ + data_pages * page - bytes.size();
    std::memcpy(data_, bytes.data(), bytes.size());
  }
  ~FencedBytes() { munmap(base_, mapped_); }
  FencedBytes(const FencedBytes&) = delete;
  FencedBytes& operator=(const FencedBytes&) = delete;
  uint8_t* data() const { return data_; }

 private:
  uint8_t* base_;
  uint8_t* data_;
  size_t mapped_;
};

// Rows of `row_bytes` bytes, `stride` bytes apart, as bytes: the rows of a
// packed image spread out, the gaps filled with GUARD.
inline std::vector<uint8_t> spread_rows(const void* packed, size_t row_bytes, size_t stride,
                                        int32_t rows, size_t lead) {
  std::vector<uint8_t> out(lead + (rows > 0 ? (rows - 1) * stride + row_bytes : 0), GUARD);
  for (int32_t r = 0; r < rows; ++r)
    std::memcpy(out.data() + lead + r * stride, static_cast<const uint8_t*>(packed) + r * row_bytes,
                row_bytes);
  return out;
}

// A source image of T: rows `stride` bytes apart, the first row `lead`
// bytes past a page boundary's offset (so any alignment), the last row's last
// byte against an inaccessible page.
template <class T>
class FencedImage {
 public:
  FencedImage(const std::vector<T>& packed, int32_t rows, size_t row_elements, size_t stride,
              size_t lead)
      : stride_(ptrdiff_t(stride)),
        bytes_(spread_rows(packed.data(), row_elements * sizeof(T), stride, rows, lead)),
        lead_(lead) {}
  const T* data() const { return reinterpret_cast<const T*>(bytes_.data() + lead_); }
  ptrdiff_t stride() const { return stride_; }

 private:
  ptrdiff_t stride_;
  FencedBytes bytes_;
  size_t lead_;
};

// A destination image of T, every byte not in a row a guard: GUARD_BYTES
// before and after, and the gaps of the stride.
template <class T>
class GuardedImage {
 public:
  static constexpr size_t GUARD_BYTES = 64;
  GuardedImage(int32_t rows, size_t row_elements, size_t stride, size_t misalign)
      : rows_(rows), row_bytes_(row_elements * sizeof(T)), stride_(stride),
        buffer_(GUARD_BYTES * 2 + misalign + (rows - 1) * stride + row_bytes_ + 64, GUARD),
        first_(GUARD_BYTES + misalign + (64 - reinterpret_cast<uintptr_t>(buffer_.data()) % 64) % 64) {}
  T* data() { return reinterpret_cast<T*>(buffer_.data() + first_); }
  ptrdiff_t stride() const { return ptrdiff_t(stride_); }
  // Every byte outside the rows still holds GUARD.
  bool guards_intact() const {
    for (size_t i = 0; i < buffer_.size(); ++i) {
      const bool in_rows = i >= first_ && (i - first_) / stride_ < size_t(rows_) &&
                           (i - first_) % stride_ < row_bytes_;
      if (!in_rows && buffer_[i] != GUARD) return false;
    }
    return true;
  }
  // The rows, packed.
  std::vector<T> packed() const {
    std::vector<T> out(size_t(rows_) * row_bytes_ / sizeof(T));
    for (int32_t r = 0; r < rows_; ++r)
      std::memcpy(reinterpret_cast<uint8_t*>(out.data()) + r * row_bytes_,
                  buffer_.data() + first_ + r * stride_, row_bytes_);
    return out;
  }

 private:
  int32_t rows_;
  size_t row_bytes_, stride_;
  std::vector<uint8_t> buffer_;
  size_t first_;
};
