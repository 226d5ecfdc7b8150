#pragma once

#include <QStringView>
#include <QtGlobal>
#include <limits>
#include <optional>

namespace varlo {

// Spaces and tabs off both ends; newlines stay.
inline QStringView trimSpacesAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(begin, end - begin);
}

// Strict decimal integer: an optional '+' or '-', then ASCII digits only, no
// surrounding white space, nothing past the range of T.
template<typename T> std::optional<T> parseDecimalInteger(QStringView text)
{
    static_assert(std::numeric_limits<T>::is_signed);
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate towards the sign so that the minimum value fits too.
    T value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const T digit = static_cast<T>(c - u'0');
        if (__builtin_mul_overflow(value, T(10), &value))
            return std::nullopt;
        if (negative ? __builtin_sub_overflow(value, digit, &value)
                     : __builtin_add_overflow(value, digit, &value))
            return std::nullopt;
    }
    return value;
}

} // namespace varlo
