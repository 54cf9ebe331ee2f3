// The compiled-in tables: the rule table TLD_RULES and the public suffix matcher.
// Both are built by tools/gen_tables.py from data/public_suffix_list.dat and
// data/rules.toml into the build folder; this header is their only interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "types.hpp"

namespace korvel::generated {

// The hash behind both perfect-hash tables. tools/gen_tables.py computes the
// same function; tests prove the two agree on every key.
struct KeyHash {
    std::uint32_t bucket;  // chooses the displacement pair
    std::uint32_t f1;
    std::uint32_t f2;
};

constexpr std::uint64_t mix64(std::uint64_t x) noexcept {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

constexpr KeyHash key_hash(std::string_view key, std::uint64_t seed) noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL ^ seed;  // FNV-1a, seeded
    for (char c : key) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    const std::uint64_t a = mix64(h);
    const std::uint64_t b = mix64(a + 0x9e3779b97f4a7c15ULL);
    return {static_cast<std::uint32_t>(a >> 32), static_cast<std::uint32_t>(a),
            static_cast<std::uint32_t>(b)};
}

// Maps a 32-bit value onto [0, n) without a division.
constexpr std::uint32_t reduce(std::uint32_t x, std::uint32_t n) noexcept {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(x) * n) >> 32);
}

struct Displacement {
    std::uint16_t d1;
    std::uint16_t d2;
};

// Slot of a key with hash h, under hash-and-displace: the bucket's pair moves
// the key into a slot that no other key holds.
constexpr std::uint32_t slot_of(const KeyHash& h, std::span<const Displacement> displacements,
                                std::uint32_t slots) noexcept {
    const Displacement& d = displacements[reduce(h.bucket, static_cast<std::uint32_t>(displacements.size()))];
    return reduce(h.f1 * d.d1 + h.f2 + d.d2, slots);
}

// The rule table: suffix text, exactly as the list writes the rule, to its rule.
// Each entry's key is its rule's `tld`.
class RuleMap {
public:
    // `max_key_length` bounds the keys, so that a longer text misses unhashed.
    constexpr RuleMap(std::uint64_t seed, std::span<const Displacement> displacements,
                      std::span<const types::TldRule> rules,
                      std::size_t max_key_length = static_cast<std::size_t>(-1)) noexcept
        : seed_(seed), displacements_(displacements), rules_(rules), max_key_length_(max_key_length) {}

    // The rule whose key equals `key` byte for byte, or nullptr. Never allocates.
    const types::TldRule* get_entry(std::string_view key) const noexcept {
        if (rules_.empty() || key.size() > max_key_length_) return nullptr;
        const auto slot = slot_of(key_hash(key, seed_), displacements_, static_cast<std::uint32_t>(rules_.size()));
        const types::TldRule& rule = rules_[slot];
        return rule.tld == key ? &rule : nullptr;
    }

    constexpr std::size_t len() const noexcept { return rules_.size(); }

    // Every entry once, in an unspecified order.
    constexpr std::span<const types::TldRule> entries() const noexcept { return rules_; }

    constexpr std::uint64_t seed() const noexcept { return seed_; }
    constexpr std::span<const Displacement> displacements() const noexcept { return displacements_; }

private:
    std::uint64_t seed_;
    std::span<const Displacement> displacements_;
    std::span<const types::TldRule> rules_;
    std::size_t max_key_length_;
};

extern const RuleMap TLD_RULES;

// --- The public suffix matcher ---------------------------------------------

enum class Section : std::uint8_t { None = 0, Icann = 1, Private = 2 };

struct SuffixMatch {
    std::size_t length;  // bytes of the public suffix at the end of the name; 0 for none
    Section section;     // the list section of the deciding rule; None for the implicit "*"
};

// The public suffix of a lower-case ASCII name by the list's algorithm: the
// longest matching rule wins, "*" matches one label, an exception rule yields
// the rule without its leftmost label, and an unlisted last label is a suffix
// by itself. Never allocates.
SuffixMatch public_suffix(std::string_view ascii_name) noexcept;

}  // namespace korvel::generated
