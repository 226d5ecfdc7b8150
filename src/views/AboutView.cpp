#include "views/AboutView.h"

#include "views/BrandMark.h"
#include "views/SettingsForm.h"
#include "views/Style.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#ifndef VARLO_VERSION
#define VARLO_VERSION ""
#endif
#ifndef VARLO_HOMEPAGE_URL
#define VARLO_HOMEPAGE_URL ""
#endif
#ifndef VARLO_SUPPORT_EMAIL
#define VARLO_SUPPORT_EMAIL ""
#endif

namespace varlo {

using namespace style;

namespace {

QLabel* link(const QUrl& target, const QString& title)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                 .arg(QString::fromUtf8(target.toEncoded()).toHtmlEscaped(), title.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setFont(style::font(TextStyle::Callout));
    label->setOpenExternalLinks(true);
    label->setToolTip(plainToolTip(target.toDisplayString()));
    return label;
}

} // namespace

AboutView::Info AboutView::Info::fromBuild()
{
    return Info{QStringLiteral(VARLO_VERSION), QUrl(QStringLiteral(VARLO_HOMEPAGE_URL)),
                QStringLiteral(VARLO_SUPPORT_EMAIL)};
}

AboutView::AboutView(const Info& info, QWidget* parent) : QWidget(parent)
{
    setFixedSize(460, 300);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(8);
    column->addStretch();
    column->addWidget(new BrandMarkView(80, 18), 0, Qt::AlignHCenter);

    QLabel* name = inkedLabel(QStringLiteral("Varlo"), TextStyle::Title, Ink::label(Label::Primary));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    column->addWidget(name, 0, Qt::AlignHCenter);
    QLabel* version = inkedLabel(versionText(info.version), TextStyle::Body, Ink::label(Label::Secondary));
    version->setObjectName(QStringLiteral("version"));
    column->addWidget(version, 0, Qt::AlignHCenter);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setTextInk(divider, Ink::label(Label::Tertiary));
    auto* dividerRow = new QHBoxLayout;
    dividerRow->setContentsMargins(48, 4, 48, 4);
    dividerRow->addWidget(divider);
    column->addLayout(dividerRow);

    if (info.homepage.isValid() && !info.homepage.host().isEmpty()) {
        QLabel* site = link(info.homepage, info.homepage.host());
        site->setObjectName(QStringLiteral("homepage"));
        column->addWidget(site, 0, Qt::AlignHCenter);
    }
    if (!info.supportEmail.isEmpty()) {
        QUrl mail;
        mail.setScheme(QStringLiteral("mailto"));
        mail.setPath(info.supportEmail);
        QLabel* support = link(mail, tr("Support"));
        support->setObjectName(QStringLiteral("support"));
        column->addWidget(support, 0, Qt::AlignHCenter);
    }
    column->addWidget(inkedLabel(tr("Copyright \u00a9 2026 The Varlo developers."), TextStyle::Caption,
                                 Ink::label(Label::Tertiary)),
                      0, Qt::AlignHCenter);
    column->addStretch();
}

QString AboutView::versionText(const QString& version)
{
    return tr("Version %1").arg(version.isEmpty() ? QStringLiteral("\u2014") : version);
}

} // namespace varlo
