// The compiled-in tables and the public suffix walk over them. The data is
// written by tools/gen_tables.py into tables.inc in the build folder; all of
// it is constant-initialised, so nothing runs when the module loads.
#include "generated.hpp"

#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "tables.inc"

namespace korvel::generated {
namespace {

using suffix_data::Node;

const Node* find_node(std::string_view key) noexcept {
    if (key.size() > suffix_data::MAX_KEY_LENGTH) return nullptr;
    const auto slot = slot_of(key_hash(key, suffix_data::SEED), suffix_data::DISPLACEMENTS,
                              static_cast<std::uint32_t>(std::size(suffix_data::NODES)));
    const Node& node = suffix_data::NODES[slot];
    if (node.length != key.size() || std::memcmp(suffix_data::KEYS + node.offset, key.data(), key.size()) != 0)
        return nullptr;
    return &node;
}

constexpr Section section_of(std::uint8_t flags, std::uint8_t icann_bit) noexcept {
    return (flags & icann_bit) ? Section::Icann : Section::Private;
}

// Start of the label that ends just before `end` (the byte at `end` is a dot).
constexpr std::size_t label_start(std::string_view name, std::size_t end) noexcept {
    if (end == 0) return 0;
    const auto dot = name.rfind('.', end - 1);
    return dot == std::string_view::npos ? 0 : dot + 1;
}

}  // namespace

// Walks the suffixes of the name from its last label leftwards, one lookup
// each. Every label suffix of every rule is a node, so the first suffix that
// is no node ends the walk: no longer suffix can match a rule.
SuffixMatch public_suffix(std::string_view name) noexcept {
    if (name.empty()) return {0, Section::None};
    const std::size_t size = name.size();
    std::size_t start = label_start(name, size);
    SuffixMatch best{size - start, Section::None};  // the implicit "*" rule
    for (;;) {
        const Node* node = find_node(name.substr(start));
        if (node == nullptr) break;
        if (node->flags & suffix_data::EXCEPTION) {
            // The exception rule prevails; its suffix lacks its leftmost label.
            const auto dot = name.find('.', start);
            return {dot == std::string_view::npos ? 0 : size - dot - 1,
                    section_of(node->flags, suffix_data::EXCEPTION_ICANN)};
        }
        if (node->flags & suffix_data::NORMAL)
            best = {size - start, section_of(node->flags, suffix_data::NORMAL_ICANN)};
        if (start == 0) break;
        const std::size_t next = label_start(name, start - 1);
        // "*" stands for the next label, unless an exception for it follows.
        if (node->flags & suffix_data::WILDCARD)
            best = {size - next, section_of(node->flags, suffix_data::WILDCARD_ICANN)};
        start = next;
    }
    return best;
}

}  // namespace korvel::generated
