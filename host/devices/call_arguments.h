// How the stand-in's recorders write down a call's scalar arguments:
// pointers as addresses, floats by their bit pattern, enums and integers
// as their value (signed ones sign-extended).
#pragma once

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

}  // namespace Host
