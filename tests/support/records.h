#pragma once

#include <cstddef>
#include <vector>

namespace strata::testing {

// Grows a list of records to `size` with new records, each with a fresh id (resize() would give
// them all the nil id).
template <typename Record>
void growTo(std::vector<Record>& records, std::size_t size) {
    while (records.size() < size)
        records.push_back(Record::fresh());
}

} // namespace strata::testing
