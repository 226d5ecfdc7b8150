#pragma once

#include <QString>

namespace varlo {

// Orders version strings the way Sparkle's standard comparator does: each string
// is split into runs of digits, runs of other characters, and single separators
// (periods, punctuation, white space). Runs compare pairwise: numbers by value,
// strings by code unit, and a number outranks a string or separator, a separator
// outranks a string. When one side runs out, a following string makes the longer
// version older (1.0b1 < 1.0), anything else makes it newer (1.0 < 1.0.0).
class VersionComparator
{
public:
    // Negative when a is older than b, zero when equal, positive when newer.
    static int compare(const QString& a, const QString& b);
};

} // namespace varlo
