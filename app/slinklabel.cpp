#include "app/slinklabel.h"

#include <QCursor>
#include <QScrollArea>

namespace {

// Shortest possible image fragment: <img width="24" height="24" src=":/icons/">.
constexpr int MinImageFragment = 43;

} // namespace

SLinkLabel::SLinkLabel()
{
    setMinimumHeight(26);
}

void SLinkLabel::setElidedText(const QString &text)
{
    whole = text;
    setToolTip(text);
    // The label takes the width of its area, whatever its text, and fits the text to it: the
    // area never scrolls over its own text.
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
    getScrollArea()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    elide();
}

void SLinkLabel::resizeEvent(QResizeEvent *event)
{
    Slabel::resizeEvent(event);
    if (!whole.isEmpty())
        elide();
}

void SLinkLabel::elide()
{
    const int imageWidth = image.size() >= MinImageFragment ? 24 + fontMetrics().averageCharWidth() : 0;
    const int room = contentsRect().width() - 2 * margin() - 2 * qMax(0, indent()) - imageWidth;
    const QString shown = fontMetrics().elidedText(whole, Qt::ElideMiddle, qMax(0, room));
    plainText = shown.toHtmlEscaped();
    link = whole.toHtmlEscaped();
    display();
}

void SLinkLabel::setImage(const QString &name)
{
    image = QStringLiteral("<img width=\"24\" height=\"24\" src=\":/icons/") + name + QStringLiteral("\">");
}

void SLinkLabel::setLinkText(const QString &text, const QString &target)
{
    if (!whole.isEmpty()) {
        whole.clear();
        setToolTip(QString());
    }
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
