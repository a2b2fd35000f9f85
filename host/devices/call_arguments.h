// How the stand-in's recorders write down a call's scalar arguments:
// pointers as addresses, floats by their bit pattern, enums and integers
// as their value (signed ones sign-extended).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace Host {

template <class T>
std::uint64_t CallArgument(T value)
{
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else if constexpr (std::is_same_v<T, float>) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else {
        static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "record scalars only");
        return static_cast<std::uint64_t>(value);
    }
}

template <class... T>
std::vector<std::uint64_t> CallArguments(T... values)
{
    return {CallArgument(values)...};
}

// A call's arguments held in place until the call is recorded, so that a
// device that is not recording makes no heap allocation per call (the
// plug-in's worker threads share that heap, and a benchmark on such a
// device would otherwise time the device's allocations).
struct PendingCallArguments {
    static constexpr std::size_t kMost = 16;
    std::array<std::uint64_t, kMost> values{};
    std::size_t count = 0;
    std::vector<std::uint64_t> ToVector() const { return {values.begin(), values.begin() + count}; }
};

template <class... T>
PendingCallArguments PendingArguments(T... values)
{
    static_assert(sizeof...(T) <= PendingCallArguments::kMost, "more arguments than a pending call holds");
    return {{CallArgument(values)...}, sizeof...(T)};
}

}  // namespace Host
