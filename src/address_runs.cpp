// The list of address runs: finding a run, and adding one where it does not extend the last.
#include "address_runs.h"

#include <cstring>

RunList run_list;

namespace {

RunLeaf &leaf_in_order(std::size_t index) {
    return run_list.leaf[run_list.order[index]];
}

std::uint32_t leaf_last(std::size_t index) {
    const RunLeaf &leaf = leaf_in_order(index);
    return leaf.runs[leaf.count - 1].last;
}

// The leaf in the order that holds `place`, or that the run after the last run goes into.
std::size_t leaf_for(std::size_t place) {
    return place >= run_end() ? run_list.leaves - 1 : place / LEAF_RUNS;
}

bool leaf_free() {
    return run_list.spare_count > 0 || run_list.fresh < LEAVES_MAX;
}

// Puts a free leaf, empty, into the order at `index`.
void open_leaf(std::size_t index) {
    std::size_t id = run_list.fresh;
    if (run_list.spare_count > 0) {
        id = run_list.spare[--run_list.spare_count];
    } else {
        ++run_list.fresh;
    }
    std::memmove(run_list.order + index + 1, run_list.order + index,
                 (run_list.leaves - index) * sizeof *run_list.order);
    run_list.order[index] = static_cast<std::uint16_t>(id);
    run_list.leaf[id].count = 0;
    ++run_list.leaves;
}

// Takes `count` leaves from the order at `index` and frees them.
void close_leaves(std::size_t index, std::size_t count) {
    for (std::size_t i = index; i < index + count; ++i)
        run_list.spare[run_list.spare_count++] = run_list.order[i];
    std::memmove(run_list.order + index, run_list.order + index + count,
                 (run_list.leaves - index - count) * sizeof *run_list.order);
    run_list.leaves -= count;
}

// Joins two neighbouring leaves that fit in one, when every leaf is in use (see LEAVES_MAX).
void join_neighbours() {
    std::size_t index = 0;
    while (leaf_in_order(index).count + leaf_in_order(index + 1).count > LEAF_RUNS) ++index;
    RunLeaf &low = leaf_in_order(index);
    const RunLeaf &high = leaf_in_order(index + 1);
    std::memcpy(low.runs + low.count, high.runs, high.count * sizeof *high.runs);
    low.count += high.count;
    close_leaves(index + 1, 1);
}

// Inserts `run` as the `slot`th run of the `index`th leaf, splitting the leaf when it is full.
void insert_at(std::size_t index, std::size_t slot, AddressRun run) {
    if (leaf_in_order(index).count == LEAF_RUNS) {
        open_leaf(index + 1);
        RunLeaf &full = leaf_in_order(index);
        RunLeaf &upper = leaf_in_order(index + 1);
        // Runs in address order fill leaves to the brim: a run after the last starts a new leaf.
        upper.count = slot == LEAF_RUNS ? 0 : LEAF_RUNS / 2;
        full.count = LEAF_RUNS - upper.count;
        std::memcpy(upper.runs, full.runs + full.count, upper.count * sizeof *upper.runs);
        if (slot > full.count || full.count == LEAF_RUNS) {
            slot -= full.count;
            ++index;
        }
    }
    RunLeaf &leaf = leaf_in_order(index);
    std::memmove(leaf.runs + slot + 1, leaf.runs + slot, (leaf.count - slot) * sizeof *leaf.runs);
    leaf.runs[slot] = run;
    ++leaf.count;
    ++run_list.count;
}

// Removes the `count` runs that follow the one at `place`.
void remove_after(std::size_t place, std::size_t count) {
    run_list.count -= count;
    std::size_t index = place / LEAF_RUNS;
    std::size_t slot = place % LEAF_RUNS + 1;
    RunLeaf &leaf = leaf_in_order(index);
    std::size_t here = count < leaf.count - slot ? count : leaf.count - slot;
    std::memmove(leaf.runs + slot, leaf.runs + slot + here,
                 (leaf.count - slot - here) * sizeof *leaf.runs);
    leaf.count -= here;
    count -= here;
    std::size_t whole = 0;
    while (count > 0 && count >= leaf_in_order(index + 1 + whole).count) {
        count -= leaf_in_order(index + 1 + whole).count;
        ++whole;
    }
    close_leaves(index + 1, whole);
    if (count == 0) return;
    RunLeaf &partial = leaf_in_order(index + 1);
    partial.count -= count;
    std::memmove(partial.runs, partial.runs + count, partial.count * sizeof *partial.runs);
}

} // namespace

std::size_t find_run(std::uint32_t address) {
    std::size_t low = 0;
    std::size_t high = run_list.leaves;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (leaf_last(middle) < address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == run_list.leaves) return run_end();
    const RunLeaf &leaf = leaf_in_order(low);
    std::size_t index = low;
    low = 0;
    high = leaf.count;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (leaf.runs[middle].last < address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return index * LEAF_RUNS + low;
}

bool insert_run(std::uint32_t first, std::uint32_t last) {
    // A run that touches `first` from below ends at first - 1.
    std::size_t place = find_run(first == 0 ? 0 : first - 1);
    if (place == run_end() || (last != 0xFFFFFFFFu && run_at(place).first > last + 1)) {
        if (run_list.count == RUNS_MAX) return false;
        if (run_list.leaves == 0) open_leaf(0);
        if (leaf_in_order(leaf_for(place)).count == LEAF_RUNS && !leaf_free()) {
            join_neighbours();
            place = find_run(first);
        }
        std::size_t index = leaf_for(place);
        std::size_t slot = place == run_end() ? leaf_in_order(index).count : place % LEAF_RUNS;
        insert_at(index, slot, {first, last});
        return true;
    }
    // Runs from `place` on that start at or below last + 1 merge with the new one.
    AddressRun merged = run_at(place);
    merged.first = first < merged.first ? first : merged.first;
    merged.last = last > merged.last ? last : merged.last;
    std::size_t absorbed = 0;
    for (std::size_t next = next_run(place);
         next != run_end() && (last == 0xFFFFFFFFu || run_at(next).first <= last + 1);
         next = next_run(next)) {
        if (run_at(next).last > merged.last) merged.last = run_at(next).last;
        ++absorbed;
    }
    leaf_in_order(place / LEAF_RUNS).runs[place % LEAF_RUNS] = merged;
    remove_after(place, absorbed);
    return true;
}
