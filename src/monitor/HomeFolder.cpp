#include "monitor/HomeFolder.h"

namespace varlo {

QString abbreviateHomeFolder(const QString& text, const QString& homePath, bool onlyAtStart)
{
    QString home = homePath;
    while (home.endsWith(u'/'))
        home.chop(1);
    // An empty home (or "/") would otherwise put "~" everywhere.
    if (home.isEmpty())
        return text;

    QString result;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(home, from);
        if (at < 0 || (onlyAtStart && at != 0))
            break;
        const qsizetype end = at + home.size();
        const bool wholePrefix = end == text.size() || text[end] == u'/' || text[end].isSpace();
        result += QStringView(text).mid(from, at - from);
        result += wholePrefix ? QStringLiteral("~") : home;
        from = end;
        if (onlyAtStart)
            break;
    }
    result += QStringView(text).mid(from);
    return result;
}

} // namespace varlo
