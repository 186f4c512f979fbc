#include "library/growingindex.h"

#include <algorithm>

GrowingKeySet::GrowingKeySet(qsizetype first) : m_first(first) { clear(); }

bool GrowingKeySet::contains(const QByteArray &key) const
{
    for (auto part = m_parts.crbegin(); part != m_parts.crend(); ++part) {
        if (part->contains(key))
            return true;
    }
    return false;
}

void GrowingKeySet::Grow()
{
    const qsizetype held = size();
    constexpr qsizetype kMergeBelow = qsizetype(1) << 16;   // keys merged in a few milliseconds
    if (m_parts.size() >= 8 && held < kMergeBelow) {
        // Many small parts (a list shared with many listings): merged into one, which costs little at this size,
        // so a lookup does not ask a part per listing.
        QSet<QByteArray> merged;
        merged.reserve(std::max(m_first, 2 * held));
        for (const QSet<QByteArray> &part : m_parts) {
            for (const QByteArray &key : part)
                merged.insert(key);
        }
        m_parts.clear();
        m_parts.push_back(std::move(merged));
        return;
    }
    // As large as all the keys before it: the parts double the room each time one fills.
    m_parts.emplace_back();
    m_parts.back().reserve(std::max(m_first, held));
}

void GrowingKeySet::insert(const QByteArray &key)
{
    // Full (one more key and the QSet would grow, moving every key it holds), or shared with a copy (unless it
    // is still empty: then the copy holds nothing of it).
    QSet<QByteArray> &last = m_parts.back();
    if ((m_shared && !last.isEmpty()) || last.size() + 1 >= last.capacity())
        Grow();
    m_shared = false;
    m_parts.back().insert(key);
}

void GrowingKeySet::remove(const QByteArray &key)
{
    for (QSet<QByteArray> &part : m_parts) {
        if (part.contains(key)) {
            part.remove(key);   // a part shared with a copy is copied here once; removals are rare
            return;
        }
    }
}

void GrowingKeySet::clear()
{
    m_parts.clear();
    m_shared = false;
    Grow();
}

qsizetype GrowingKeySet::size() const
{
    qsizetype total = 0;
    for (const QSet<QByteArray> &part : m_parts)
        total += part.size();
    return total;
}

std::vector<QSet<QByteArray>> GrowingKeySet::Share()
{
    m_shared = true;
    return m_parts;
}

GrowingPlaces::GrowingPlaces(std::size_t first) : m_first(first) { clear(); }

void GrowingPlaces::insert(std::size_t hash, int place)
{
    const auto &last = m_parts.back();
    // Full: one more place and the table would grow, moving every place it holds.
    if (last.size() + 1 > std::size_t(double(last.bucket_count()) * double(last.max_load_factor()))) {
        const std::size_t held = last.size();
        m_parts.emplace_back();
        m_parts.back().reserve(std::max(m_first, 2 * held));
    }
    m_parts.back().emplace(hash, place);
}

void GrowingPlaces::erase(std::size_t hash, int place)
{
    for (auto &part : m_parts) {
        const auto [first, last] = part.equal_range(hash);
        for (auto at = first; at != last; ++at) {
            if (at->second == place) {
                part.erase(at);
                return;
            }
        }
    }
}

void GrowingPlaces::clear()
{
    m_parts.clear();
    m_parts.emplace_back();
    m_parts.back().reserve(m_first);
}
