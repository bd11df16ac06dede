#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvel {

// Reads big-endian fields from a byte range; every read checks the bytes
// left, so parsers built on it never read past what was received.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Remaining() const { return bytes_.size() - offset_; }
  std::size_t Offset() const { return offset_; }
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(offset_); }

  bool Skip(std::size_t count) {
    if (count > Remaining()) return false;
    offset_ += count;
    return true;
  }
  bool Take(std::size_t count, std::span<const std::uint8_t>& out) {
    if (count > Remaining()) return false;
    out = bytes_.subspan(offset_, count);
    offset_ += count;
    return true;
  }
  // Takes up to `count` bytes: what is left when fewer were received.
  std::span<const std::uint8_t> TakeUpTo(std::size_t count) {
    const std::size_t taken = count < Remaining() ? count : Remaining();
    const auto out = bytes_.subspan(offset_, taken);
    offset_ += taken;
    return out;
  }
  bool Number(std::size_t size, std::uint64_t& value) {
    if (size > Remaining()) return false;
    value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes_[offset_ + i];
    offset_ += size;
    return true;
  }
  template <typename T>
  bool Read(std::size_t size, T& value) {
    std::uint64_t wide = 0;
    if (!Number(size, wide)) return false;
    value = static_cast<T>(wide);
    return true;
  }
  // QUIC variable-length integer (RFC 9000, 16).
  bool VarInt(std::uint64_t& value) {
    if (Remaining() == 0) return false;
    const std::size_t size = std::size_t{1} << (bytes_[offset_] >> 6);
    if (!Number(size, value)) return false;
    value &= (~std::uint64_t{0}) >> (64 - 8 * size + 2);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t offset_ = 0;
};

}  // namespace quorvel
