// Nothing may throw out of an export or a boundary operation: an operation that allocates runs
// through NoThrow, and out of memory (or any other exception) gives its failure result.
#pragma once

namespace norvane {

template <typename Result, typename Operation>
Result NoThrow(Result failure, Operation&& operation) noexcept {
    try {
        return operation();
    } catch (...) {
        return failure;
    }
}

}  // namespace norvane
