#pragma once

#include <QByteArray>
#include <QSet>

#include <cstddef>
#include <unordered_map>
#include <vector>

// Hash containers for a list that may grow to millions of rows without a pause. A hash table that grows moves
// everything it holds at once (at a million keys, a tenth of a second or more on the window's thread); these
// never do: when the newest part is full a new one, twice as large, is begun, and the parts before it stay as they
// are. A lookup asks each part (a handful for a million keys).

// The keys of the files a list holds.
class GrowingKeySet
{
public:
    explicit GrowingKeySet(qsizetype first = qsizetype(1) << 16);

    bool contains(const QByteArray &key) const;
    // Adds a key not held yet.
    void insert(const QByteArray &key);
    void remove(const QByteArray &key);
    void clear();
    qsizetype size() const;
    // The parts, for a copy another thread reads: the next insertion begins a part of its own, so the parts
    // shared with that copy are never written (and never copied) again.
    std::vector<QSet<QByteArray>> Share();

private:
    void Grow();

    std::vector<QSet<QByteArray>> m_parts;
    qsizetype m_first;
    bool m_shared = false;
};

// A hash of a file's key to its place among the rows; several places may share a hash.
class GrowingPlaces
{
public:
    explicit GrowingPlaces(std::size_t first = std::size_t(1) << 16);

    void insert(std::size_t hash, int place);
    void erase(std::size_t hash, int place);
    void clear();
    // Calls `visit(place)` for each place of that hash until it returns true; whether one did.
    template <typename Visit>
    bool find(std::size_t hash, Visit &&visit) const
    {
        for (const auto &part : m_parts) {
            const auto [first, last] = part.equal_range(hash);
            for (auto at = first; at != last; ++at) {
                if (visit(at->second))
                    return true;
            }
        }
        return false;
    }

private:
    std::vector<std::unordered_multimap<std::size_t, int>> m_parts;
    std::size_t m_first;
};
