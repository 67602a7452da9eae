#include "widgets/eventhandler.h"

#include "widgets/prompt.h"

#include <QLabel>
#include <QMessageBox>

EventHandler *EventHandler::eventHandler = nullptr;
QLabel *EventHandler::statusWidget = nullptr;
std::function<qint64()> EventHandler::totalTraffic;
QString EventHandler::lastAddress;

EventHandler::EventHandler(QWidget *parent)
    : parentWidget(parent)
{
    eventHandler = this;
    lastAddress.clear();
    connect(&timer, &QTimer::timeout, this, &EventHandler::sendDataInfo);
    statusWidget = new QLabel;
}

EventHandler::~EventHandler()
{
    timer.stop();
    // The main window's layout owns the panel once it is placed.
    if (statusWidget && !statusWidget->parent())
        delete statusWidget;
    statusWidget = nullptr;
    if (eventHandler == this)
        eventHandler = nullptr;
}

void EventHandler::statusmsg(const QString &text)
{
    if (statusWidget)
        statusWidget->setText(QStringLiteral("<center>") + text + QStringLiteral("</center>"));
}

void EventHandler::startTimer()
{
    if (!timer.isActive())
        timer.start(RefreshInterval);
}

void EventHandler::stopTimer()
{
    timer.stop();
}

void EventHandler::newConnection(const QString &address)
{
    if (address == lastAddress)
        return;
    timer.stop();
    lastAddress = address;
    sendDataInfo();
}

void EventHandler::msg(const QString &title, const QString &text)
{
    const QString shown = title + QLatin1Char('\n') + text;
    warnings.removeAll(nullptr);
    for (const QPointer<QWidget> &open : std::as_const(warnings)) {
        const auto *box = qobject_cast<const QMessageBox *>(open.data());
        if (box && box->text() == shown)
            return;
    }
    // Reports arrive from inside the connection handling: a box that waited for the user here
    // would run the connections' events while their code is still on the stack.
    auto *box = new QMessageBox(QMessageBox::Warning, QString(), shown, QMessageBox::Ok, parentWidget);
    warnings.append(box);
    Prompt::current()->show(box, Prompt::Presentation::WindowModal);
}

void EventHandler::sendDataInfo()
{
    if (!lastAddress.isEmpty() && totalTraffic) {
        const qint64 total = totalTraffic();
        statusWidget->setText(QStringLiteral("<center>%1KB ").arg(total / 1000) + tr("Last connection")
                              + QStringLiteral(": ") + lastAddress.toHtmlEscaped() + QStringLiteral("</center>"));
    }
    if (!timer.isActive())
        timer.start(RefreshInterval);
}
