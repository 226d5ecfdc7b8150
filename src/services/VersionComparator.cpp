#include "services/VersionComparator.h"

#include <QList>
#include <QStringView>

namespace varlo {

namespace {

enum class PartType
{
    Number,
    String,
    Separator
};

PartType typeOf(QChar c)
{
    if (c == QLatin1Char('.') || c.isSpace() || c.isPunct())
        return PartType::Separator;
    if (c.isDigit())
        return PartType::Number;
    return PartType::String;
}

QList<QStringView> split(const QString& version)
{
    QList<QStringView> parts;
    const QStringView text(version);
    qsizetype start = 0;
    for (qsizetype i = 1; i <= text.size(); ++i) {
        if (i == text.size() || typeOf(text[i]) != typeOf(text[start]) ||
            typeOf(text[start]) == PartType::Separator) {
            parts.append(text.mid(start, i - start));
            start = i;
        }
    }
    return parts;
}

// Compares runs of digits by value, without a size limit (a hostile version may
// hold more digits than any integer type).
int compareNumbers(QStringView a, QStringView b)
{
    auto significant = [](QStringView digits) {
        qsizetype i = 0;
        while (i + 1 < digits.size() && digits[i].digitValue() == 0)
            ++i;
        return digits.mid(i);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const int da = a[i].digitValue();
        const int db = b[i].digitValue();
        if (da != db)
            return da < db ? -1 : 1;
    }
    return 0;
}

} // namespace

int VersionComparator::compare(const QString& a, const QString& b)
{
    const QList<QStringView> partsA = split(a);
    const QList<QStringView> partsB = split(b);
    const qsizetype shared = std::min(partsA.size(), partsB.size());

    for (qsizetype i = 0; i < shared; ++i) {
        const PartType typeA = typeOf(partsA[i].front());
        const PartType typeB = typeOf(partsB[i].front());
        if (typeA == typeB) {
            int result = 0;
            if (typeA == PartType::Number)
                result = compareNumbers(partsA[i], partsB[i]);
            else if (typeA == PartType::String)
                result = partsA[i].compare(partsB[i], Qt::CaseSensitive);
            if (result != 0)
                return result < 0 ? -1 : 1;
            continue;
        }
        // Different kinds: a string always loses; between a number and a
        // separator, the number wins.
        if (typeB == PartType::String)
            return 1;
        if (typeA == PartType::String)
            return -1;
        return typeA == PartType::Number ? 1 : -1;
    }

    if (partsA.size() == partsB.size())
        return 0;
    const bool aLonger = partsA.size() > partsB.size();
    const QStringView extra = aLonger ? partsA[shared] : partsB[shared];
    const bool longerIsNewer = typeOf(extra.front()) != PartType::String;
    return (aLonger == longerIsNewer) ? 1 : -1;
}

} // namespace varlo
