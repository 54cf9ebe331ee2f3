#!/usr/bin/env python3
"""Writes the compiled-in tables of korvel as C++ constant data.

From the Public Suffix List and data/rules.toml it builds two perfect-hash
tables, both by hash-and-displace over the hash that src/generated.hpp
defines (key_hash, reduce, slot_of):

- korvel::generated::TLD_RULES: one registration rule per key, keyed by the
  rules of the list's ICANN section as the list writes them, plus the extra
  keys and the brand TLDs of rules.toml;
- the public suffix matcher: every rule of both sections of the list in its
  ASCII form, and every label suffix of a rule as an interior node, with
  flags for normal, exception and wildcard rules and their section.

The table is refused (non-zero exit, nothing written) when the inputs are
inconsistent or when a figure of rules.toml's [expected] table is not met.

Standard library only: runs on the build's own interpreter.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import re
import sys
import tomllib
import unicodedata
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

M32 = 0xFFFFFFFF
M64 = 0xFFFFFFFFFFFFFFFF
KEYS_PER_BUCKET = 4
MAX_DISPLACEMENT = 0xFFFF
MAX_SEEDS = 64

FIELD_ORDER = ("tld", "registerable", "reason", "note", "restrictions", "min_length", "max_length",
               "length_basis", "banned", "charset", "idn_chars", "sources")
# Texts of rules.toml -> C++ enumerators.
REGISTERABLE = {"yes": "Registerable::Yes", "no": "Registerable::No", "restricted": "Registerable::Restricted"}
REASON = {"brand_tld": "ClosedReason::BrandTld", "infrastructure": "ClosedReason::Infrastructure",
          "government": "ClosedReason::Government", "retired": "ClosedReason::Retired"}
LENGTH_BASIS = {"ascii": "LengthBasis::Ascii", "unicode": "LengthBasis::Unicode"}
CHARSET = {"ascii": "Charset::Ascii", "idn": "Charset::Idn"}
# Fields of a record that rules.toml may set, with the default when it does not.
DEFAULTABLE = {"registerable", "reason", "note", "restrictions", "min_length", "max_length",
               "length_basis", "banned", "charset", "idn_chars"}

ICANN, PRIVATE = 1, 2
SECTION_MARKERS = {
    "// ===BEGIN ICANN DOMAINS===": ("begin", ICANN),
    "// ===END ICANN DOMAINS===": ("end", ICANN),
    "// ===BEGIN PRIVATE DOMAINS===": ("begin", PRIVATE),
    "// ===END PRIVATE DOMAINS===": ("end", PRIVATE),
}
URL_RE = re.compile(r"https?://\S+")


class BuildError(Exception):
    pass


# --- the hash of src/generated.hpp -------------------------------------------

def mix64(x: int) -> int:
    x ^= x >> 33
    x = (x * 0xFF51AFD7ED558CCD) & M64
    x ^= x >> 33
    x = (x * 0xC4CEB9FE1A85EC53) & M64
    x ^= x >> 33
    return x


def key_hash(key: bytes, seed: int) -> tuple[int, int, int]:
    h = 0xCBF29CE484222325 ^ seed
    for c in key:
        h = ((h ^ c) * 0x100000001B3) & M64
    a = mix64(h)
    b = mix64((a + 0x9E3779B97F4A7C15) & M64)
    return a >> 32, a & M32, b & M32


def reduce(x: int, n: int) -> int:
    return (x * n) >> 32


def slot_of(h: tuple[int, int, int], displacements: list[tuple[int, int]], n: int) -> int:
    d1, d2 = displacements[reduce(h[0], len(displacements))]
    return reduce((h[1] * d1 + h[2] + d2) & M32, n)


@dataclass
class PerfectHash:
    seed: int
    displacements: list[tuple[int, int]]
    order: list[int]  # order[slot] = index of the key in that slot


def build_perfect_hash(keys: list[bytes]) -> PerfectHash:
    """Hash-and-displace: buckets of about KEYS_PER_BUCKET keys, the largest
    placed first, each searching a displacement pair under which all its keys
    land in free, distinct slots. A bucket that finds none restarts the whole
    table with the next seed."""
    n = len(keys)
    if n == 0 or n > M32:
        raise BuildError(f"cannot hash {n} keys")
    nbuckets = (n + KEYS_PER_BUCKET - 1) // KEYS_PER_BUCKET
    for attempt in range(MAX_SEEDS):
        seed = ((attempt + 1) * 0x9E3779B97F4A7C15) & M64
        hashes = [key_hash(k, seed) for k in keys]
        buckets: list[list[int]] = [[] for _ in range(nbuckets)]
        for i, h in enumerate(hashes):
            buckets[reduce(h[0], nbuckets)].append(i)
        displacements = [(0, 0)] * nbuckets
        owner = [-1] * n
        failed = False
        for b in sorted(range(nbuckets), key=lambda b: -len(buckets[b])):
            members = buckets[b]
            if not members:
                break
            placed = _place(members, hashes, owner, n)
            if placed is None:
                failed = True
                break
            displacements[b], slots = placed
            for i, s in zip(members, slots):
                owner[s] = i
        if not failed:
            return PerfectHash(seed, displacements, owner)
    raise BuildError(f"no perfect hash for {n} keys in {MAX_SEEDS} seeds")


def _place(members, hashes, owner, n):
    terms = [(hashes[i][1], hashes[i][2]) for i in members]
    # Under multiply-shift reduction d2 moves a key by a fraction of a slot,
    # so d1 does nearly all the searching; d2 is tried only once d1 is spent.
    for d2 in (0, 0x5555, 0xAAAA, MAX_DISPLACEMENT):
        for d1 in range(MAX_DISPLACEMENT + 1):
            slots = []
            for f1, f2 in terms:
                s = (((f1 * d1 + f2 + d2) & M32) * n) >> 32
                if owner[s] >= 0 or s in slots:
                    break
                slots.append(s)
            else:
                return (d1, d2), slots
    return None


# --- the list ------------------------------------------------------------------

@dataclass
class ListRule:
    text: str        # as the list writes it, with "!" or "*." where it has them
    section: int
    line: int
    group_url: str | None  # first URL of the comment block heading the rule's group

    @property
    def key(self) -> str:
        return self.text[1:] if self.text.startswith("!") else self.text


def parse_list(path: Path) -> list[ListRule]:
    rules: list[ListRule] = []
    section = 0
    seen_sections: set[int] = set()
    head_open = True   # still in the comment block that heads the current group
    group_url: str | None = None
    with path.open(encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line:
                head_open, group_url = True, None
                continue
            marker = SECTION_MARKERS.get(line)
            if marker is not None:
                kind, which = marker
                if kind == "begin":
                    if section or which in seen_sections:
                        raise BuildError(f"{path}:{number}: unexpected section start")
                    section = which
                    seen_sections.add(which)
                else:
                    if section != which:
                        raise BuildError(f"{path}:{number}: unexpected section end")
                    section = 0
                head_open, group_url = True, None
                continue
            if line.startswith("//"):
                if head_open and group_url is None:
                    m = URL_RE.search(line)
                    if m:
                        group_url = m.group()
                continue
            head_open = False
            if not section:
                raise BuildError(f"{path}:{number}: rule outside a section: {line!r}")
            text = line.split()[0]
            check_rule_text(text, f"{path}:{number}")
            rules.append(ListRule(text, section, number, group_url))
    if section or seen_sections != {ICANN, PRIVATE}:
        raise BuildError(f"{path}: the ICANN and private sections are not both complete")
    return rules


def check_rule_text(text: str, where: str) -> None:
    body = text[1:] if text.startswith("!") else text
    labels = body.split(".")
    if any(not label for label in labels):
        raise BuildError(f"{where}: empty label in rule {text!r}")
    for i, label in enumerate(labels):
        if "*" in label and (label != "*" or i != 0 or text.startswith("!")):
            raise BuildError(f"{where}: wildcard other than a whole leftmost label: {text!r}")
        if "!" in label:
            raise BuildError(f"{where}: misplaced '!' in rule {text!r}")
        if label.isascii():
            if label != label.lower():
                raise BuildError(f"{where}: upper-case letter in rule {text!r}")
            if label.startswith("xn--"):
                raise BuildError(f"{where}: the list writes labels in Unicode, not {label!r}")
        # The A-label is the Punycode of the label itself: that holds only if
        # UTS #46 mapping would leave the label unchanged.
        elif unicodedata.normalize("NFKC", label.casefold()) != label:
            raise BuildError(f"{where}: label {label!r} of {text!r} is not in mapped, NFC form")


def a_label(label: str) -> str:
    return label if label.isascii() else "xn--" + label.encode("punycode").decode("ascii")


def ascii_form(text: str) -> str:
    return ".".join(a_label(label) for label in text.split("."))


def u_label(label: str) -> str:
    if not label.startswith("xn--"):
        return label
    try:
        decoded = label[4:].encode("ascii").decode("punycode")
    except (UnicodeError, ValueError) as e:
        raise BuildError(f"{label!r} is not a valid A-label: {e}") from None
    if a_label(decoded) != label:
        raise BuildError(f"{label!r} does not round-trip through Punycode")
    return decoded


# --- the rule table --------------------------------------------------------------

@dataclass
class Record:
    tld: str
    values: dict
    sources: dict[str, str] = field(default_factory=dict)
    brand: bool = False


def load_rules(path: Path) -> dict:
    with path.open("rb") as f:
        try:
            return tomllib.load(f)
        except tomllib.TOMLDecodeError as e:
            raise BuildError(f"{path}: {e}") from None


def default_values(data: dict) -> dict:
    given = data.get("default", {})
    values = {"registerable": "yes", "reason": None, "note": None, "restrictions": [],
              "min_length": 1, "max_length": 63, "length_basis": "ascii", "banned": [],
              "charset": "ascii", "idn_chars": ""}
    unknown = set(given) - DEFAULTABLE
    if unknown:
        raise BuildError(f"[default]: unknown fields {sorted(unknown)}")
    values.update(given)
    return values


def record_values(defaults: dict, spec: dict, where: str) -> tuple[dict, dict[str, str]]:
    unknown = set(spec) - DEFAULTABLE - {"sources"}
    if unknown:
        raise BuildError(f"{where}: unknown fields {sorted(unknown)}")
    values = dict(defaults)
    values.update({k: v for k, v in spec.items() if k != "sources"})
    sources = spec.get("sources", {})
    check_values(values, where)
    differing = {k for k in DEFAULTABLE if values[k] != defaults[k]}
    expected_fields = differing | {"registerable"}
    if set(sources) != expected_fields:
        raise BuildError(f"{where}: sources name {sorted(sources)}, but the fields to cite are "
                         f"{sorted(expected_fields)}")
    return values, dict(sources)


def check_values(v: dict, where: str) -> None:
    def fail(msg):
        raise BuildError(f"{where}: {msg}")
    if v["registerable"] not in REGISTERABLE:
        fail(f"registerable {v['registerable']!r}")
    if v["reason"] is not None and v["reason"] not in REASON:
        fail(f"reason {v['reason']!r}")
    if v["note"] is not None and not isinstance(v["note"], str):
        fail("note is not a text")
    for name in ("restrictions", "banned"):
        if not isinstance(v[name], list) or not all(isinstance(x, str) and x for x in v[name]):
            fail(f"{name} is not a list of texts")
    for name in ("min_length", "max_length"):
        if not isinstance(v[name], int) or not 0 <= v[name] <= 255:
            fail(f"{name} is not an 8-bit count")
    if v["min_length"] > v["max_length"]:
        fail("min_length exceeds max_length")
    if v["length_basis"] not in LENGTH_BASIS:
        fail(f"length_basis {v['length_basis']!r}")
    if v["charset"] not in CHARSET:
        fail(f"charset {v['charset']!r}")
    if not isinstance(v["idn_chars"], str):
        fail("idn_chars is not a text")


def check_url(url, where: str) -> None:
    if not isinstance(url, str) or not re.fullmatch(r"https?://[^\s/]+\S*", url):
        raise BuildError(f"{where}: {url!r} is not an absolute URL")


def build_records(rules: list[ListRule], data: dict) -> dict[str, Record]:
    defaults = default_values(data)
    iana = data.get("iana_root_db")
    if not isinstance(iana, str) or iana.count("{}") != 1:
        raise BuildError("rules.toml: iana_root_db must be a URL with one '{}'")

    records: dict[str, Record] = {}
    for r in rules:
        if r.section != ICANN:
            continue
        if r.key in records:
            raise BuildError(f"duplicate key {r.key!r} (list line {r.line})")
        top = a_label(r.key.rsplit(".", 1)[-1])
        url = r.group_url or iana.format(top)
        records[r.key] = Record(r.key, dict(defaults), {"registerable": url})
    icann_keys = set(records)

    for key in data.get("extra_keys", []):
        if key in records:
            raise BuildError(f"extra key {key!r} is already a rule of the list")
        records[key] = Record(key, dict(defaults))  # its row must say the rest

    brands = data.get("brands", {})
    brand_spec = {k: v for k, v in brands.items() if k not in ("tlds", "not_in_list")}
    brand_values, brand_sources = record_values(defaults, brand_spec, "[brands]")
    tlds = brands.get("tlds", [])
    not_in_list = set(brands.get("not_in_list", []))
    if len(set(tlds)) != len(tlds):
        raise BuildError("[brands]: a brand is listed twice")
    if not not_in_list <= set(tlds):
        raise BuildError(f"[brands]: not_in_list names non-brands {sorted(not_in_list - set(tlds))}")
    for tld in tlds:
        if not (isinstance(tld, str) and tld and tld.isascii() and tld == tld.lower() and "." not in tld):
            raise BuildError(f"[brands]: {tld!r} is not a one-label A-label")
        if tld in not_in_list:
            if tld in records:
                raise BuildError(f"[brands]: {tld!r} is marked not_in_list but the list holds it")
            records[tld] = Record(tld, {})
        elif tld.startswith("xn--"):
            unicode_key = u_label(tld)
            if unicode_key not in icann_keys:
                raise BuildError(f"[brands]: cannot place {tld!r}: {unicode_key!r} is not a rule of the list")
            if tld in records:
                raise BuildError(f"duplicate key {tld!r}")
            records[tld] = Record(tld, {})
        elif tld not in icann_keys:
            raise BuildError(f"[brands]: cannot place {tld!r}: not a rule of the list's ICANN section")
        rec = records[tld]
        rec.values, rec.sources, rec.brand = dict(brand_values), dict(brand_sources), True

    for key, spec in data.get("rules", {}).items():
        where = f"[rules.{key!r}]"
        if key not in records:
            raise BuildError(f"{where}: no such key")
        if records[key].brand:
            raise BuildError(f"{where}: a brand's record comes from [brands]")
        records[key].values, records[key].sources = record_values(defaults, spec, where)

    for rec in records.values():
        if "registerable" not in rec.sources:
            raise BuildError(f"{rec.tld!r}: no source for registerable")
        for name, url in rec.sources.items():
            check_url(url, f"{rec.tld!r} source {name!r}")
        rec.sources = dict(sorted(rec.sources.items(), key=lambda kv: kv[0].encode()))
        check_key(rec.tld)
    return records


def check_key(key: str) -> None:
    if not key or key.startswith(".") or key.endswith(".") or ".." in key:
        raise BuildError(f"malformed key {key!r}")
    if any("A" <= c <= "Z" for c in key) or "!" in key:
        raise BuildError(f"malformed key {key!r}")


def table_figures(records: dict[str, Record], rules: list[ListRule]) -> dict:
    exception_keys = {r.key for r in rules if r.section == ICANN and r.text.startswith("!")}
    recs = records.values()
    return {
        "entries": len(records),
        "registerable": dict(Counter(r.values["registerable"] for r in recs)),
        "keys_by_labels": {str(k): v for k, v in Counter(t.count(".") + 1 for t in records).items()},
        "wildcard_keys": sum(t.startswith("*.") for t in records),
        "exception_keys": len(exception_keys & set(records)),
        "non_ascii_keys": sum(not t.isascii() for t in records),
        "non_ascii_one_label_keys": sum(not t.isascii() and "." not in t for t in records),
        "a_label_keys": sum(any(l.startswith("xn--") for l in t.split(".")) for t in records),
        "records_by_source_pairs": {str(k): v for k, v in Counter(len(r.sources) for r in recs).items()},
        "distinct_urls": len({u for r in recs for u in r.sources.values()}),
    }


def check_figures(got: dict, expected: dict) -> None:
    wrong = [f"{name}: expected {want}, got {got.get(name)}" for name, want in expected.items()
             if got.get(name) != want]
    unknown = set(expected) - set(got)
    if unknown:
        wrong.append(f"unknown figures {sorted(unknown)}")
    for name, value in got.items():
        if name not in expected:
            wrong.append(f"{name}: no expected figure (got {value})")
    if wrong:
        raise BuildError("the table does not meet rules.toml [expected]:\n  " + "\n  ".join(wrong))


# --- the matcher -------------------------------------------------------------------

NORMAL_ICANN, NORMAL_PRIVATE = 0x01, 0x02
WILDCARD_ICANN, WILDCARD_PRIVATE = 0x04, 0x08
EXCEPTION_ICANN, EXCEPTION_PRIVATE = 0x10, 0x20
FLAG_NAMES = {NORMAL_ICANN: "NORMAL_ICANN", NORMAL_PRIVATE: "NORMAL_PRIVATE",
              WILDCARD_ICANN: "WILDCARD_ICANN", WILDCARD_PRIVATE: "WILDCARD_PRIVATE",
              EXCEPTION_ICANN: "EXCEPTION_ICANN", EXCEPTION_PRIVATE: "EXCEPTION_PRIVATE"}
MAX_NODE_KEY = 255


def build_nodes(rules: list[ListRule]) -> dict[str, int]:
    """ASCII key -> flags; a flag of 0 marks an interior node, a label suffix
    of some rule that is no rule itself, so that a walk may go on past it."""
    nodes: dict[str, int] = {}
    for r in rules:
        text = ascii_form(r.key)
        if r.text.startswith("!"):
            key, kind = text, (EXCEPTION_ICANN, EXCEPTION_PRIVATE)
        elif text.startswith("*."):
            key, kind = text[2:], (WILDCARD_ICANN, WILDCARD_PRIVATE)
        else:
            key, kind = text, (NORMAL_ICANN, NORMAL_PRIVATE)
        bit = kind[0] if r.section == ICANN else kind[1]
        flags = nodes.get(key, 0)
        if flags & (kind[0] | kind[1]):
            raise BuildError(f"list line {r.line}: rule {r.text!r} is listed twice")
        flags |= bit
        if flags & (NORMAL_ICANN | NORMAL_PRIVATE) and flags & (EXCEPTION_ICANN | EXCEPTION_PRIVATE):
            raise BuildError(f"list line {r.line}: {key!r} is both a rule and an exception")
        if len(key) > MAX_NODE_KEY:
            raise BuildError(f"list line {r.line}: rule longer than {MAX_NODE_KEY} bytes")
        nodes[key] = flags
        labels = key.split(".")
        for i in range(1, len(labels)):
            nodes.setdefault(".".join(labels[i:]), 0)
    return nodes


def pack_keys(keys: list[str]) -> tuple[str, dict[str, int]]:
    """All node keys in one text: a key that is a label suffix of a longer one
    is stored once, inside it."""
    keyset = set(keys)
    covered = set()
    for k in keyset:
        labels = k.split(".")
        covered.update(".".join(labels[i:]) for i in range(1, len(labels)))
    offsets: dict[str, int] = {}
    parts: list[str] = []
    pos = 0
    for k in sorted(keyset - covered):
        labels = k.split(".")
        for i in range(len(labels)):
            suffix = ".".join(labels[i:])
            offsets.setdefault(suffix, pos + len(k) - len(suffix))
        parts.append(k)
        pos += len(k)
    blob = "".join(parts)
    assert all(blob[offsets[k]:offsets[k] + len(k)] == k for k in keyset)
    return blob, offsets


# --- output --------------------------------------------------------------------------

def cpp_string(text: str) -> str:
    out = ['"']
    for b in text.encode("utf-8"):
        if b in (0x22, 0x5C):
            out.append("\\" + chr(b))
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append(f"\\{b:03o}")
    out.append('"')
    return "".join(out)


class Interner:
    def __init__(self, prefix: str):
        self.prefix = prefix
        self.names: dict = {}
        self.order: list = []

    def name(self, value) -> str:
        if value not in self.names:
            self.names[value] = f"{self.prefix}{len(self.order)}"
            self.order.append(value)
        return self.names[value]


def emit(records: dict[str, Record], table: PerfectHash, table_keys: list[str],
         nodes: dict[str, int], matcher: PerfectHash, node_keys: list[str],
         inputs: list[tuple[str, Path]]) -> str:
    notes, lists, sources = Interner("NOTE_"), Interner("LIST_"), Interner("SOURCES_")
    rows = []
    for index in table.order:
        rec = records[table_keys[index]]
        v = rec.values
        reason = f"REASON_{v['reason'].upper()}" if v["reason"] else "NO_REASON"
        note = notes.name(v["note"]) if v["note"] is not None else "NO_NOTE"
        restrictions = lists.name(tuple(v["restrictions"])) if v["restrictions"] else "NOTHING"
        banned = lists.name(tuple(v["banned"])) if v["banned"] else "NOTHING"
        src = sources.name(tuple(rec.sources.items()))
        rows.append(f"    {{{cpp_string(rec.tld)}, {v['registerable'].upper()}, {reason}, {note}, "
                    f"{restrictions}, {v['min_length']}, {v['max_length']}, BASIS_{v['length_basis'].upper()}, "
                    f"{banned}, CHARSET_{v['charset'].upper()}, {cpp_string(v['idn_chars'])}, {src}}},")

    out = []
    w = out.append
    w("// Generated by tools/gen_tables.py from " +
      ", ".join(f"{name} (sha256 {hashlib.sha256(path.read_bytes()).hexdigest()[:16]})" for name, path in inputs) +
      ".")
    w("// Do not edit: change the inputs and rebuild. Included once, by src/generated.cpp.")
    w("")
    w("namespace korvel::generated {")
    w("namespace rule_data {")
    w("")
    w("using types::ClosedReason;")
    w("using types::Charset;")
    w("using types::LengthBasis;")
    w("using types::Registerable;")
    w("using types::SourcePair;")
    w("")
    for text, enumerator in REGISTERABLE.items():
        w(f"constexpr Registerable {text.upper()} = {enumerator};")
    for text, enumerator in REASON.items():
        w(f"constexpr std::optional<ClosedReason> REASON_{text.upper()}{{{enumerator}}};")
    for text, enumerator in LENGTH_BASIS.items():
        w(f"constexpr LengthBasis BASIS_{text.upper()} = {enumerator};")
    for text, enumerator in CHARSET.items():
        w(f"constexpr Charset CHARSET_{text.upper()} = {enumerator};")
    w("constexpr std::optional<ClosedReason> NO_REASON{};")
    w("constexpr std::optional<std::string_view> NO_NOTE{};")
    w("constexpr std::span<const std::string_view> NOTHING{};")
    for value in notes.order:
        w(f"constexpr std::optional<std::string_view> {notes.names[value]}{{{cpp_string(value)}}};")
    for value in lists.order:
        w(f"constexpr std::string_view {lists.names[value]}[] = {{{', '.join(cpp_string(x) for x in value)}}};")
    for value in sources.order:
        pairs = ", ".join(f"{{{cpp_string(f)}, {cpp_string(u)}}}" for f, u in value)
        w(f"constexpr SourcePair {sources.names[value]}[] = {{{pairs}}};")
    w("")
    w(f"constexpr std::uint64_t SEED = {table.seed:#x}ULL;")
    w(f"constexpr Displacement DISPLACEMENTS[{len(table.displacements)}] = {{")
    out.extend(_wrap([f"{{{d1}, {d2}}}" for d1, d2 in table.displacements]))
    w("};")
    w("")
    w("// In slot order: the slot of a key indexes its rule.")
    w(f"constexpr types::TldRule RULES[{len(rows)}] = {{")
    out.extend(rows)
    w("};")
    w(f"constexpr std::size_t MAX_KEY_LENGTH = {max(len(k.encode()) for k in table_keys)};")
    w("")
    w("}  // namespace rule_data")
    w("")
    w("constinit const RuleMap TLD_RULES{rule_data::SEED, rule_data::DISPLACEMENTS, rule_data::RULES,")
    w("                                  rule_data::MAX_KEY_LENGTH};")
    w("")

    blob, offsets = pack_keys(node_keys)
    w("namespace suffix_data {")
    w("")
    w("// Rules of the list that end at a node, by kind and section; a node")
    w("// without flags is only a label suffix of longer rules.")
    for bit, name in FLAG_NAMES.items():
        w(f"constexpr std::uint8_t {name} = {bit:#04x};")
    w("constexpr std::uint8_t NORMAL = NORMAL_ICANN | NORMAL_PRIVATE;")
    w("constexpr std::uint8_t WILDCARD = WILDCARD_ICANN | WILDCARD_PRIVATE;")
    w("constexpr std::uint8_t EXCEPTION = EXCEPTION_ICANN | EXCEPTION_PRIVATE;")
    w("")
    w("struct Node {")
    w("    std::uint32_t offset;  // of the key in KEYS")
    w("    std::uint8_t length;")
    w("    std::uint8_t flags;")
    w("};")
    w("")
    w(f"constexpr std::size_t MAX_KEY_LENGTH = {max(len(k) for k in node_keys)};")
    w(f"constexpr std::uint64_t SEED = {matcher.seed:#x}ULL;")
    w(f"constexpr Displacement DISPLACEMENTS[{len(matcher.displacements)}] = {{")
    out.extend(_wrap([f"{{{d1}, {d2}}}" for d1, d2 in matcher.displacements]))
    w("};")
    w("")
    w("// Every node key once; a key that ends a longer key is read from inside it.")
    w("constexpr char KEYS[] =")
    for i in range(0, len(blob), 96):
        w("    " + cpp_string(blob[i:i + 96]))
    w("    ;")
    w("")
    w(f"constexpr Node NODES[{len(node_keys)}] = {{")
    out.extend(_wrap([f"{{{offsets[node_keys[i]]}, {len(node_keys[i])}, {nodes[node_keys[i]]:#04x}}}"
                      for i in matcher.order]))
    w("};")
    w("")
    w("}  // namespace suffix_data")
    w("}  // namespace korvel::generated")
    return "\n".join(out) + "\n"


def _wrap(items: list[str], width: int = 100) -> list[str]:
    lines, cur = [], "   "
    for item in items:
        if len(cur) + len(item) + 2 > width and cur.strip():
            lines.append(cur)
            cur = "   "
        cur += " " + item + ","
    if cur.strip():
        lines.append(cur)
    return lines


def verify(ph: PerfectHash, keys: list[bytes]) -> None:
    for i, k in enumerate(keys):
        if ph.order[slot_of(key_hash(k, ph.seed), ph.displacements, len(keys))] != i:
            raise BuildError(f"perfect hash misplaces {k!r}")


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--psl", type=Path, required=True, help="the Public Suffix List")
    ap.add_argument("--rules", type=Path, required=True, help="data/rules.toml")
    ap.add_argument("--out", type=Path, required=True, help="the C++ file to write")
    args = ap.parse_args(argv)
    try:
        rules = parse_list(args.psl)
        data = load_rules(args.rules)
        records = build_records(rules, data)
        check_figures(table_figures(records, rules), data.get("expected", {}))

        table_keys = sorted(records)
        table_bytes = [k.encode("utf-8") for k in table_keys]
        table = build_perfect_hash(table_bytes)
        verify(table, table_bytes)

        nodes = build_nodes(rules)
        node_keys = sorted(nodes)
        node_bytes = [k.encode("ascii") for k in node_keys]
        matcher = build_perfect_hash(node_bytes)
        verify(matcher, node_bytes)

        root = Path(__file__).resolve().parent.parent
        inputs = [(_shown(p, root), p) for p in (args.psl, args.rules)]
        text = emit(records, table, table_keys, nodes, matcher, node_keys, inputs)
    except (BuildError, OSError) as e:
        print(f"gen_tables.py: error: {e}", file=sys.stderr)
        return 1
    args.out.parent.mkdir(parents=True, exist_ok=True)
    tmp = args.out.with_name(args.out.name + ".tmp")
    tmp.write_text(text, encoding="utf-8")
    os.replace(tmp, args.out)
    return 0


def _shown(path: Path, root: Path) -> str:
    try:
        return path.resolve().relative_to(root).as_posix()
    except ValueError:
        return path.name


if __name__ == "__main__":
    sys.exit(main())
