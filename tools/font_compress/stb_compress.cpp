// A greedy LZ77 encoder with one step of lazy matching, writing the token
// set of stb_decompress (see the header). Matches are found through hash
// chains over three-byte prefixes; a match is taken only when its token is
// shorter than the bytes it replaces.
#include "font_compress/stb_compress.h"

#include <algorithm>
#include <stdexcept>

namespace FontCompress {
namespace {

constexpr std::size_t kMaxDistance = std::size_t(1) << 24;  // tokens 0x06 and 0x04
constexpr std::size_t kMaxTokenLength = 65536;              // longest match or literal token
constexpr std::size_t kMinMatch = 3;
constexpr int kHashBits = 16;
constexpr int kMaxChain = 256;         // candidates looked at per position
constexpr std::size_t kGoodMatch = 1024;  // long enough to stop looking

// Bytes of the token for one match of `length` (<= kMaxTokenLength) at `distance`.
std::size_t MatchTokenBytes(std::size_t distance, std::size_t length)
{
    if (distance <= 256 && length <= 128) return 2;
    if (distance <= 16384 && length <= 256) return 3;
    if (distance <= 524288) return length <= 256 ? 4 : 5;
    return length <= 256 ? 5 : 6;
}

// How many bytes a match saves over writing its bytes as literals.
long Saving(std::size_t distance, std::size_t length)
{
    return static_cast<long>(length) - static_cast<long>(MatchTokenBytes(distance, length));
}

class Encoder {
public:
    explicit Encoder(std::vector<unsigned char>& out) : out_(out) {}

    void Byte(unsigned value) { out_.push_back(static_cast<unsigned char>(value)); }
    void Be16(std::size_t value)
    {
        Byte((value >> 8) & 0xFF);
        Byte(value & 0xFF);
    }
    void Be24(std::size_t value)
    {
        Byte((value >> 16) & 0xFF);
        Be16(value & 0xFFFF);
    }
    void Be32(std::uint32_t value)
    {
        Be16(value >> 16);
        Be16(value & 0xFFFF);
    }

    void Literals(const unsigned char* data, std::size_t count)
    {
        while (count > 0) {
            std::size_t run = std::min(count, kMaxTokenLength);
            if (run <= 32) {
                Byte(0x20 + (run - 1));
            } else if (run <= 2048) {
                Be16(0x0800 + (run - 1));
            } else {
                Byte(0x07);
                Be16(run - 1);
            }
            out_.insert(out_.end(), data, data + run);
            data += run;
            count -= run;
        }
    }

    // One match of any length; longer than a token allows, it becomes
    // several tokens at the same distance.
    void Match(std::size_t distance, std::size_t length)
    {
        while (length > 0) {
            std::size_t part = std::min(length, kMaxTokenLength);
            const std::size_t d = distance - 1, l = part - 1;
            if (distance <= 256 && part <= 128) {
                Byte(0x80 + l);
                Byte(d);
            } else if (distance <= 16384 && part <= 256) {
                Be16(0x4000 + d);
                Byte(l);
            } else if (distance <= 524288 && part <= 256) {
                Be24(0x180000 + d);
                Byte(l);
            } else if (distance <= 524288) {
                Be24(0x100000 + d);
                Be16(l);
            } else if (part <= 256) {
                Byte(0x06);
                Be24(d);
                Byte(l);
            } else {
                Byte(0x04);
                Be24(d);
                Be16(l);
            }
            length -= part;
        }
    }

private:
    std::vector<unsigned char>& out_;
};

class MatchFinder {
public:
    MatchFinder(const unsigned char* data, std::size_t size)
        : data_(data), size_(size), head_(std::size_t(1) << kHashBits, -1), previous_(size, -1)
    {
    }

    // Adds every position before `end` not yet in the chains.
    void InsertUpTo(std::size_t end)
    {
        for (; inserted_ < end && inserted_ + kMinMatch <= size_; ++inserted_) {
            std::uint32_t h = Hash(inserted_);
            previous_[inserted_] = head_[h];
            head_[h] = static_cast<long>(inserted_);
        }
    }

    struct Found {
        std::size_t distance = 0;
        std::size_t length = 0;
        long saving = 0;
    };

    // The most saving match for `position`, looking at earlier positions only.
    Found Best(std::size_t position)
    {
        Found best;
        if (position + kMinMatch > size_) return best;
        InsertUpTo(position);
        const std::size_t limit = size_ - position;
        int chain = kMaxChain;
        for (long candidate = head_[Hash(position)]; candidate >= 0 && chain-- > 0;
             candidate = previous_[static_cast<std::size_t>(candidate)]) {
            const std::size_t distance = position - static_cast<std::size_t>(candidate);
            if (distance > kMaxDistance) break;
            const unsigned char* a = data_ + candidate;
            const unsigned char* b = data_ + position;
            std::size_t length = 0;
            while (length < limit && length < kMaxTokenLength && a[length] == b[length]) ++length;
            if (length < kMinMatch) continue;
            long saving = Saving(distance, length);
            if (saving > best.saving) best = {distance, length, saving};
            if (length >= kGoodMatch) break;
        }
        return best;
    }

private:
    std::uint32_t Hash(std::size_t at) const
    {
        std::uint32_t v = data_[at] | (std::uint32_t(data_[at + 1]) << 8) | (std::uint32_t(data_[at + 2]) << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    const unsigned char* data_;
    std::size_t size_;
    std::vector<long> head_;
    std::vector<long> previous_;
    std::size_t inserted_ = 0;
};

}  // namespace

std::uint32_t Adler32(const unsigned char* data, std::size_t size)
{
    constexpr std::uint32_t kModulus = 65521;
    std::uint32_t a = 1, b = 0;
    while (size > 0) {
        std::size_t block = std::min<std::size_t>(size, 5552);  // no overflow before the modulus
        size -= block;
        while (block-- > 0) {
            a += *data++;
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
    }
    return (b << 16) | a;
}

std::vector<unsigned char> Compress(const unsigned char* data, std::size_t size)
{
    if (size > 0xFFFFFFFFu) throw std::length_error("the compressed-font format holds at most 4 GiB");
    std::vector<unsigned char> out;
    out.reserve(size / 2 + 64);
    Encoder encoder(out);
    encoder.Be32(0x57BC0000u);
    encoder.Be32(0);
    encoder.Be32(static_cast<std::uint32_t>(size));
    encoder.Be32(static_cast<std::uint32_t>(kMaxDistance));

    MatchFinder finder(data, size);
    std::size_t literalStart = 0;
    std::size_t position = 0;
    MatchFinder::Found current = finder.Best(0);
    while (position < size) {
        if (current.saving <= 0) {
            ++position;
            current = finder.Best(position);
            continue;
        }
        // One step of laziness: a better match one byte on is worth a literal.
        MatchFinder::Found next = position + 1 < size ? finder.Best(position + 1) : MatchFinder::Found{};
        if (next.saving > current.saving + 1) {
            ++position;
            current = next;
            continue;
        }
        encoder.Literals(data + literalStart, position - literalStart);
        encoder.Match(current.distance, current.length);
        position += current.length;
        literalStart = position;
        current = finder.Best(position);
    }
    encoder.Literals(data + literalStart, size - literalStart);

    encoder.Byte(0x05);
    encoder.Byte(0xFA);
    encoder.Be32(Adler32(data, size));
    return out;
}

}  // namespace FontCompress
