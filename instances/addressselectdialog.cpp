#include "instances/addressselectdialog.h"

#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "widgets/prompt.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

AddressSelectDialog::AddressSelectDialog(AddressList *list)
    : QDialog(list)
{
    for (int row = 0; row < list->getServerCount(); ++row) {
        const ServerItem *item = list->getServer(row);
        if (item && item->webServer->isListening())
            entries.append(QString::fromLatin1(item->getUrl()));
    }
    if (const ServerItem *pending = list->pending(); pending && pending->publicReachable) {
        entries.append(pending->getPublicURL());
        if (pending->dnsUpdated)
            entries.append(pending->getDNS_URL());
    }
    entries.removeAll(QString());
    if (entries.size() == 1) {
        selection = entries.first();
        return;
    }

    setWindowTitle(tr("Select address for QR code"));
    auto *layout = new QVBoxLayout(this);
    if (entries.isEmpty()) {
        layout->addWidget(new QLabel(tr("Start server before use QR code.")));
    } else {
        auto *choices = new QListWidget;
        choices->addItems(entries);
        connect(choices, &QListWidget::itemClicked, this, &AddressSelectDialog::clicked);
        layout->addWidget(choices);
    }
    auto *cancel = new QPushButton(tr("Cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(cancel);
    Prompt::keepTitleWhole(this);
    Prompt::current()->exec(this);
}

void AddressSelectDialog::clicked(QListWidgetItem *entry)
{
    selection = entry->text();
    close();
}
