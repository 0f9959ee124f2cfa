// Value types of the toolkit: 2-, 3- and 4-component float vectors and the
// packed RGBA colour. Plain aggregates, cheap to copy, usable in constexpr.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vemo::ui {

// Any built-in number: vectors take ints (window sizes) as well as floats
// without a narrowing error in brace initialisation.
template <typename T>
concept Scalar = std::is_arithmetic_v<T>;

struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;

    constexpr Vec2() = default;
    template <Scalar X, Scalar Y>
    constexpr Vec2(X ax, Y ay) : x(static_cast<float>(ax)), y(static_cast<float>(ay)) {}

    constexpr Vec2 operator+(Vec2 o) const { return {x + o.x, y + o.y}; }
    constexpr Vec2 operator-(Vec2 o) const { return {x - o.x, y - o.y}; }
    constexpr Vec2 operator*(float s) const { return {x * s, y * s}; }
    constexpr Vec2& operator+=(Vec2 o) {
        x += o.x;
        y += o.y;
        return *this;
    }
    constexpr Vec2& operator-=(Vec2 o) {
        x -= o.x;
        y -= o.y;
        return *this;
    }
    constexpr bool operator==(const Vec2&) const = default;
};

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vec3() = default;
    template <Scalar X, Scalar Y, Scalar Z>
    constexpr Vec3(X ax, Y ay, Z az)
        : x(static_cast<float>(ax)), y(static_cast<float>(ay)), z(static_cast<float>(az)) {}

    constexpr Vec3 operator+(Vec3 o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vec3 operator-(Vec3 o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr bool operator==(const Vec3&) const = default;
};

// Also used for paddings: x = left, y = top, z = right, w = bottom.
struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    constexpr Vec4() = default;
    template <Scalar X, Scalar Y, Scalar Z, Scalar W>
    constexpr Vec4(X ax, Y ay, Z az, W aw)
        : x(static_cast<float>(ax)), y(static_cast<float>(ay)), z(static_cast<float>(az)), w(static_cast<float>(aw)) {}

    constexpr Vec4 operator+(Vec4 o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
    constexpr Vec4 operator-(Vec4 o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
    constexpr Vec4 operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    constexpr bool operator==(const Vec4&) const = default;
};

// A colour packed into 32 bits: red in the lowest byte, then green, blue and
// alpha in the highest byte (0xFF32C832 is red 50, green 200, blue 50,
// alpha 255) - the same packing as Dear ImGui's ImU32 colours, so a packed
// value can be handed to either without conversion.
struct Color {
    std::uint32_t value = 0xFFFFFFFFu;

    constexpr Color() = default;
    // Implicit on purpose: packed literals (0xFF101010) are the usual way to
    // write a colour.
    constexpr Color(std::uint32_t packed) : value(packed) {}  // NOLINT(google-explicit-constructor)

    static constexpr Color rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
        return Color(static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
                     (static_cast<std::uint32_t>(b) << 16) | (static_cast<std::uint32_t>(a) << 24));
    }
    // Components in 0..1 are rounded to the nearest byte; values outside are clamped.
    static constexpr Color fromVec4(Vec4 v) { return rgba(toByte(v.x), toByte(v.y), toByte(v.z), toByte(v.w)); }

    constexpr std::uint8_t r() const { return static_cast<std::uint8_t>(value & 0xFFu); }
    constexpr std::uint8_t g() const { return static_cast<std::uint8_t>((value >> 8) & 0xFFu); }
    constexpr std::uint8_t b() const { return static_cast<std::uint8_t>((value >> 16) & 0xFFu); }
    constexpr std::uint8_t a() const { return static_cast<std::uint8_t>((value >> 24) & 0xFFu); }

    // Each byte divided by 255.
    constexpr Vec4 toVec4() const { return {r() / 255.0f, g() / 255.0f, b() / 255.0f, a() / 255.0f}; }

    constexpr bool operator==(const Color&) const = default;

private:
    static constexpr std::uint8_t toByte(float f) {
        if (!(f > 0.0f)) return 0;  // also NaN
        if (f >= 1.0f) return 255;
        return static_cast<std::uint8_t>(f * 255.0f + 0.5f);
    }
};

}  // namespace vemo::ui
