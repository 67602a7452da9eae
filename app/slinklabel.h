#ifndef SLINKLABEL_H
#define SLINKLABEL_H

#include "app/slabel.h"

// A label in its own scroll area that shows either an active link (with an optional icon after
// the text) or the same text plain and disabled. The text is shown as given: callers escape what
// is not meant as markup.
class SLinkLabel : public Slabel
{
    Q_OBJECT

public:
    SLinkLabel();

    void setImage(const QString &name);
    void setLinkText(const QString &text, const QString &link);
    void setLinkText(const QString &s) { setLinkText(s, s); }
    // Shows the plain `text` (no markup) as the link, shortened in its middle to the label's width;
    // the whole text is the tool tip.
    void setElidedText(const QString &text);
    void on();
    void off();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void display();
    void elide();

    QString plainText;
    QString link;
    QString image;
    // The whole text shown shortened; empty unless set by setElidedText.
    QString whole;
};

#endif
