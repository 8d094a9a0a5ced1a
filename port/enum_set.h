#pragma once
// A small set of enumeration values: bit n stands for the value with ordinal n.

#include <cstdint>
#include <initializer_list>

namespace velmora::port {

template <typename E, typename Bits = uint16_t>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr EnumSet FromBits(Bits bits) {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr bool Has(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits ToBits() const { return bits_; }
  constexpr EnumSet& Include(E v) {
    bits_ |= Bit(v);
    return *this;
  }
  constexpr EnumSet& Exclude(E v) {
    bits_ &= static_cast<Bits>(~Bit(v));
    return *this;
  }
  constexpr EnumSet operator|(EnumSet o) const { return FromBits(static_cast<Bits>(bits_ | o.bits_)); }
  constexpr EnumSet operator&(EnumSet o) const { return FromBits(static_cast<Bits>(bits_ & o.bits_)); }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr Bits Bit(E v) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(v)); }
  Bits bits_ = 0;
};

}  // namespace velmora::port
