#include "widgets/linklabel.h"

LinkLabel::LinkLabel()
{
    setTextFormat(Qt::RichText);
}

LinkLabel::LinkLabel(const QString &text, const QString &link)
    : LinkLabel()
{
    setLinkText(text, link);
}

void LinkLabel::setLinkText(const QString &text, const QString &link)
{
    setText(QStringLiteral("<a href=\"") + link + QStringLiteral("\">") + text + QStringLiteral("</a>"));
}
