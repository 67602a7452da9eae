#ifndef ADDRESSSELECTDIALOG_H
#define ADDRESSSELECTDIALOG_H

#include <QDialog>
#include <QStringList>

class AddressList;
class QListWidgetItem;

// Which URL goes into the QR code: the URLs of the running servers, and the public and DNS URLs
// of the server whose public address is known. With exactly one URL it is taken without asking;
// otherwise the dialog runs, modal, inside the constructor.
class AddressSelectDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddressSelectDialog(AddressList *list);

    // The chosen URL; empty when nothing was chosen.
    QString getSelection() const { return selection; }
    QStringList addresses() const { return entries; }

public slots:
    void clicked(QListWidgetItem *entry);

private:
    QString selection;
    QStringList entries;
};

#endif
