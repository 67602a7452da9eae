#ifndef LINKLABEL_H
#define LINKLABEL_H

#include <QLabel>

// A rich-text label showing one link.
class LinkLabel : public QLabel
{
    Q_OBJECT

public:
    LinkLabel();
    LinkLabel(const QString &text, const QString &link);

    void setLinkText(const QString &text, const QString &link);
    void setLinkText(const QString &s) { setLinkText(s, s); }
};

#endif
