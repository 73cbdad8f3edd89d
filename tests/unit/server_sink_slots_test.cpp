#include "server/sink_slots.h"

#include <gtest/gtest.h>

#include <vector>

namespace trv {
namespace {

struct Sink {
    int id;
};

TEST(SinkSlots, CookiesCountFromOneAndGrowByDoubling) {
    SinkSlots<Sink> slots;
    EXPECT_EQ(slots.SlotCount(), 0u);
    Sink s[9] = {{1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(slots.Add(&s[i]), static_cast<std::uint32_t>(i + 1));
    EXPECT_EQ(slots.SlotCount(), 4u);
    EXPECT_EQ(slots.Add(&s[4]), 5u);
    EXPECT_EQ(slots.SlotCount(), 8u);
    for (int i = 5; i < 8; ++i) slots.Add(&s[i]);
    EXPECT_EQ(slots.Add(&s[8]), 9u);
    EXPECT_EQ(slots.SlotCount(), 16u);
}

TEST(SinkSlots, FreedSlotIsReusedLowestFirstAndKeepsItsPlaceInFiring) {
    SinkSlots<Sink> slots;
    Sink a{1}, b{2}, c{3}, d{4}, e{5}, again{6};
    for (Sink* s : {&a, &b, &c, &d, &e}) slots.Add(s);
    EXPECT_EQ(slots.Remove(4), &d);
    EXPECT_EQ(slots.Remove(2), &b);
    EXPECT_EQ(slots.Add(&again), 2u);
    EXPECT_EQ(slots.SlotCount(), 8u);  // never shrinks
    std::vector<int> order;
    slots.ForEachConnected([&](Sink* s) {
        order.push_back(s->id);
        return true;
    });
    EXPECT_EQ(order, (std::vector<int>{1, 6, 3, 5}));
}

TEST(SinkSlots, RemoveRefusesCookiesThatNameNoConnection) {
    SinkSlots<Sink> slots;
    Sink a{1};
    EXPECT_EQ(slots.Remove(1), nullptr);  // no array yet
    EXPECT_EQ(slots.Add(&a), 1u);
    EXPECT_EQ(slots.Remove(0), nullptr);
    EXPECT_EQ(slots.Remove(5), nullptr);  // beyond the slot count
    EXPECT_EQ(slots.Remove(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(slots.Remove(1), &a);
    EXPECT_EQ(slots.Remove(1), nullptr);  // already empty
}

TEST(SinkSlots, SameSinkTwiceTakesTwoSlots) {
    SinkSlots<Sink> slots;
    Sink a{1};
    EXPECT_EQ(slots.Add(&a), 1u);
    EXPECT_EQ(slots.Add(&a), 2u);
    int calls = 0;
    slots.ForEachConnected([&](Sink*) { return ++calls, true; });
    EXPECT_EQ(calls, 2);
}

TEST(SinkSlots, FiringReadsTheCountOnceAndSkipsSinksRemovedBeforeTheirTurn) {
    SinkSlots<Sink> slots;
    Sink s[4] = {{1}, {2}, {3}, {4}};
    Sink late{9}, lowSlot{8};
    for (Sink& x : s) slots.Add(&x);
    std::vector<int> seen;
    slots.ForEachConnected([&](Sink* sink) {
        seen.push_back(sink->id);
        if (sink->id == 1) {
            EXPECT_EQ(slots.Add(&late), 5u);      // grows past the count read at the start
            slots.Remove(3);                      // before its turn: skipped
        }
        if (sink->id == 2) {
            slots.Remove(2);                      // itself: the others still get the event
            EXPECT_EQ(slots.Add(&lowSlot), 2u);   // behind the loop: not called this time
        }
        return true;
    });
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 4}));

    seen.clear();
    slots.ForEachConnected([&](Sink* sink) { return seen.push_back(sink->id), true; });
    EXPECT_EQ(seen, (std::vector<int>{1, 8, 4, 9}));
}

TEST(SinkSlots, NewSlotInsideTheCountIsCalledInTheSameFiring) {
    SinkSlots<Sink> slots;
    Sink a{1}, b{2}, c{3};
    slots.Add(&a);
    slots.Add(&b);
    std::vector<int> seen;
    slots.ForEachConnected([&](Sink* sink) {
        seen.push_back(sink->id);
        if (sink->id == 1) slots.Add(&c);  // slot 3 of 4: still below the count
        return true;
    });
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(SinkSlots, StoppedFiringLeavesLaterSinksOut) {
    SinkSlots<Sink> slots;
    Sink a{1}, b{2}, c{3};
    for (Sink* s : {&a, &b, &c}) slots.Add(s);
    std::vector<int> seen;
    const bool finished = slots.ForEachConnected([&](Sink* sink) {
        seen.push_back(sink->id);
        return sink->id != 2;
    });
    EXPECT_FALSE(finished);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(SinkSlots, FullListAtItsLimitRefusesAndKeepsTheOthers) {
    SinkSlots<Sink> slots(8);
    Sink s[9] = {};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(slots.Add(&s[i]), static_cast<std::uint32_t>(i + 1));
    EXPECT_EQ(slots.Add(&s[8]), 0u);
    EXPECT_EQ(slots.SlotCount(), 8u);
    slots.Remove(3);
    EXPECT_EQ(slots.Add(&s[8]), 3u);  // a freed slot still takes one
}

TEST(SinkSlots, ClearHandsBackEverySinkInSlotOrder) {
    SinkSlots<Sink> slots;
    Sink a{1}, b{2}, c{3};
    for (Sink* s : {&a, &b, &c}) slots.Add(s);
    slots.Remove(2);
    std::vector<int> released;
    slots.Clear([&](Sink* s) { released.push_back(s->id); });
    EXPECT_EQ(released, (std::vector<int>{1, 3}));
    EXPECT_EQ(slots.SlotCount(), 0u);
    EXPECT_EQ(slots.Add(&a), 1u);
}

}  // namespace
}  // namespace trv
