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
    void on();
    void off();

private:
    void display();

    QString plainText;
    QString link;
    QString image;
};

#endif
