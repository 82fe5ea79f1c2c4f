// Little-endian byte buffers for TDS 5.0 tokens. Every read is bounds-checked: the bytes come from
// the network and may be anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::tds {

// Raised for any malformed input; the session answers with an error or closes the connection.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A token whose body does not fit its 16-bit length. Nothing of it may reach the client: the
// reply carries an error in its place.
class TokenTooLong : public std::length_error {
 public:
  explicit TokenTooLong(size_t bytes)
      : std::length_error("token of " + std::to_string(bytes) + " bytes"), bytes_(bytes) {}
  size_t Bytes() const { return bytes_; }

 private:
  size_t bytes_;
};

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const std::vector<uint8_t>& bytes) : ByteReader(bytes.data(), bytes.size()) {}

  size_t Remaining() const { return size_ - pos_; }
  size_t Position() const { return pos_; }
  bool AtEnd() const { return pos_ >= size_; }

  uint8_t U8() {
    Need(1);
    return data_[pos_++];
  }
  uint16_t U16() {
    Need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    Need(4);
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<size_t>(i)];
    pos_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }

  std::string Str(size_t n) {
    Need(n);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::vector<uint8_t> Bytes(size_t n) {
    Need(n);
    std::vector<uint8_t> b(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return b;
  }
  std::string BVarChar() { return Str(U8()); }
  std::string USVarChar() { return Str(U16()); }
  void Skip(size_t n) {
    Need(n);
    pos_ += n;
  }
  // A reader over the next n bytes; this reader moves past them.
  ByteReader Sub(size_t n) {
    Need(n);
    ByteReader r(data_ + pos_, n);
    pos_ += n;
    return r;
  }

 private:
  void Need(size_t n) const {
    if (n > size_ - pos_) throw ProtocolError("truncated token");
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class ByteWriter {
 public:
  std::vector<uint8_t>& Buffer() { return buf_; }
  const std::vector<uint8_t>& Buffer() const { return buf_; }
  size_t Size() const { return buf_.size(); }

  void U8(uint8_t v) { buf_.push_back(v); }
  void U16(uint16_t v) {
    buf_.push_back(static_cast<uint8_t>(v));
    buf_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) buf_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) buf_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Raw(const void* p, size_t n) {
    auto b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
  }
  void Raw(std::string_view s) { Raw(s.data(), s.size()); }
  // A B_VARCHAR; text beyond 255 bytes is cut.
  void BVarChar(std::string_view s) {
    if (s.size() > 255) s = s.substr(0, 255);
    U8(static_cast<uint8_t>(s.size()));
    Raw(s);
  }
  void USVarChar(std::string_view s) {
    if (s.size() > 65535) s = s.substr(0, 65535);
    U16(static_cast<uint16_t>(s.size()));
    Raw(s);
  }
  // Writes a u16 placeholder and returns its offset; PatchU16 fills in the length that followed.
  size_t LengthU16() {
    size_t at = buf_.size();
    U16(0);
    return at;
  }
  void PatchU16(size_t at) {
    size_t n = buf_.size() - at - 2;
    if (n > 0xFFFF) throw TokenTooLong(n);
    buf_[at] = static_cast<uint8_t>(n);
    buf_[at + 1] = static_cast<uint8_t>(n >> 8);
  }
  // A 16-bit length followed by `body`.
  void FramedU16(const ByteWriter& body) {
    if (body.Size() > 0xFFFF) throw TokenTooLong(body.Size());
    U16(static_cast<uint16_t>(body.Size()));
    Raw(body.buf_.data(), body.Size());
  }
  // Drops everything written after `size` bytes: a token that could not be completed.
  void Truncate(size_t size) {
    if (size < buf_.size()) buf_.resize(size);
  }
  size_t LengthU32() {
    size_t at = buf_.size();
    U32(0);
    return at;
  }
  void PatchU32(size_t at) {
    uint32_t n = static_cast<uint32_t>(buf_.size() - at - 4);
    for (int i = 0; i < 4; ++i)
      buf_[at + static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
  }

 private:
  std::vector<uint8_t> buf_;
};

}  // namespace sampleserver::tds
