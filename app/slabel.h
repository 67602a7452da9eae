#ifndef SLABEL_H
#define SLABEL_H

#include <QLabel>

class QScrollArea;

// A label in a scroll area of its own; the area, not the label, goes into layouts, and the
// area owns the label.
class Slabel : public QLabel
{
    Q_OBJECT

public:
    Slabel();
    explicit Slabel(const QString &text);

    QScrollArea *getScrollArea() const { return scrollArea; }

private:
    void init();

    QScrollArea *scrollArea = nullptr;
};

#endif
