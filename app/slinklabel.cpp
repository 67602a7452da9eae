#include "app/slinklabel.h"

#include <QCursor>

namespace {

// Shortest possible image fragment: <img width="24" height="24" src=":/icons/">.
constexpr int MinImageFragment = 43;

} // namespace

SLinkLabel::SLinkLabel()
{
    setMinimumHeight(26);
}

void SLinkLabel::setImage(const QString &name)
{
    image = QStringLiteral("<img width=\"24\" height=\"24\" src=\":/icons/") + name + QStringLiteral("\">");
}

void SLinkLabel::setLinkText(const QString &text, const QString &target)
{
    plainText = text;
    link = target;
    display();
}

void SLinkLabel::display()
{
    if (!isEnabled()) {
        setText(plainText);
        return;
    }
    QString shown = QStringLiteral("<a href=\"") + link + QStringLiteral("\">") + plainText;
    if (image.size() >= MinImageFragment)
        shown += image;
    setText(shown + QStringLiteral("</a>"));
}

void SLinkLabel::on()
{
    setEnabled(true);
    setCursor(Qt::PointingHandCursor);
    display();
}

void SLinkLabel::off()
{
    setText(plainText);
    setEnabled(false);
    setCursor(Qt::ArrowCursor);
}
