// The slot list behind the object's connection point: cookies are slot
// positions plus one, freed slots are reused lowest first, the array grows by
// doubling and never shrinks, and a firing reads the slot count once so sinks
// may connect or disconnect from inside their handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace trv {

template <class Sink>
class SinkSlots {
public:
    static constexpr std::size_t kFirstSize = 4;
    // Keeps every cookie and the slot count inside a signed 32-bit value.
    static constexpr std::size_t kDefaultLimit = std::size_t(1) << 30;

    explicit SinkSlots(std::size_t limit = kDefaultLimit) : m_limit(limit) {}

    // Stores the sink and returns its cookie, or 0 when the array cannot be
    // created or grown (the caller keeps its reference then).
    std::uint32_t Add(Sink* sink) {
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            if (!m_slots[i]) {
                m_slots[i] = sink;
                return static_cast<std::uint32_t>(i + 1);
            }
        }
        const std::size_t old = m_slots.size();
        const std::size_t grown = old == 0 ? kFirstSize : old * 2;
        if (grown > m_limit) return 0;
        try {
            m_slots.resize(grown, nullptr);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        m_slots[old] = sink;
        return static_cast<std::uint32_t>(old + 1);
    }

    // Empties the slot and hands back what it held; nullptr for a cookie that
    // names no connection.
    Sink* Remove(std::uint32_t cookie) {
        if (cookie == 0 || cookie > m_slots.size()) return nullptr;
        Sink* sink = m_slots[cookie - 1];
        m_slots[cookie - 1] = nullptr;
        return sink;
    }

    std::size_t SlotCount() const { return m_slots.size(); }
    Sink* At(std::size_t position) const {
        return position < m_slots.size() ? m_slots[position] : nullptr;
    }

    // Calls deliver(sink) for every occupied slot below the count read at the
    // start; deliver returns false to stop the firing.
    template <class Deliver>
    bool ForEachConnected(Deliver deliver) const {
        const std::size_t n = m_slots.size();
        for (std::size_t i = 0; i < n; ++i) {
            Sink* sink = At(i);
            if (!sink) continue;
            if (!deliver(sink)) return false;
        }
        return true;
    }

    // Hands every held sink to release in slot order and frees the array.
    template <class Release>
    void Clear(Release release) {
        std::vector<Sink*> slots;
        slots.swap(m_slots);
        for (Sink* sink : slots) {
            if (sink) release(sink);
        }
    }

private:
    std::vector<Sink*> m_slots;
    std::size_t m_limit;
};

}  // namespace trv
