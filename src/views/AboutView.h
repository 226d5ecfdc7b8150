#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

namespace varlo {

// The About tab: the brand mark, the name, the version, the site and support links and the legal notice.
class AboutView : public QWidget
{
    Q_OBJECT
public:
    // What the build names; an empty address leaves its link out.
    struct Info
    {
        QString version;
        QUrl homepage;
        QString supportEmail;

        static Info fromBuild();
    };

    explicit AboutView(QWidget* parent = nullptr) : AboutView(Info::fromBuild(), parent) {}
    explicit AboutView(const Info& info, QWidget* parent = nullptr);

    // "Version 1.2.3", or an em dash for the number when there is none.
    static QString versionText(const QString& version);
};

} // namespace varlo
