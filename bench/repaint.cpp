// How long a repaint of the window waits while its server feeds downloads: the window of the
// desktop application with one server on 127.0.0.1, and N clients (default 32) on a thread of
// their own, each fetching the same file again and again over one keep-alive connection.
// Every 20 ms the whole window is scheduled for repainting; the wait is the time from the
// request to the paint event. Prints the waits without clients and with them.
//     tessaly_repaint_bench [--clients N] [--seconds S] [--size MiB]

#include "app/mobilewebserver.h"
#include "app/startup.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/fixedaddresses.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

// One client: GET, read the whole answer, GET again.
class Downloader : public QObject
{
public:
    Downloader(quint16 port, std::atomic<qint64> *bytes, std::atomic<int> *answers)
        : port(port), bytes(bytes), answers(answers)
    {
    }

    void start()
    {
        socket = new QTcpSocket(this);
        socket->setReadBufferSize(256 * 1024);
        connect(socket, &QTcpSocket::connected, this, &Downloader::ask);
        connect(socket, &QTcpSocket::readyRead, this, &Downloader::read);
        socket->connectToHost(QHostAddress::LocalHost, port);
    }

private:
    void ask()
    {
        head.clear();
        remaining = -1;
        socket->write("GET /big.bin HTTP/1.1\r\nHost: bench\r\n\r\n");
    }

    void read()
    {
        while (socket->bytesAvailable() > 0) {
            if (remaining < 0) {
                head += socket->read(4096 - head.size());
                const qsizetype end = head.indexOf("\r\n\r\n");
                if (end < 0)
                    continue;
                const qsizetype at = head.indexOf("Content-Length: ");
                remaining = head.mid(at + 16, head.indexOf('\r', at) - at - 16).toLongLong();
                remaining -= head.size() - end - 4;
            } else {
                const QByteArray chunk = socket->read(qMin<qint64>(remaining, 256 * 1024));
                remaining -= chunk.size();
                *bytes += chunk.size();
            }
            if (remaining == 0) {
                ++*answers;
                ask();
            }
        }
    }

    quint16 port;
    std::atomic<qint64> *bytes;
    std::atomic<int> *answers;
    QTcpSocket *socket = nullptr;
    QByteArray head;
    qint64 remaining = -1;
};

// Requests repaints of `window` every 20 ms and notes how long each waited for its paint.
class Probe : public QObject
{
public:
    explicit Probe(QWidget *window) : window(window)
    {
        window->installEventFilter(this);
        connect(&tick, &QTimer::timeout, this, [this] {
            if (!asked.isValid()) {
                asked.start();
                this->window->update();
            }
        });
        tick.start(20);
    }

    std::vector<double> take()
    {
        std::vector<double> out;
        out.swap(waits);
        return out;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window && event->type() == QEvent::Paint && asked.isValid()) {
            waits.push_back(asked.nsecsElapsed() / 1e6);
            asked.invalidate();
        }
        return false;
    }

private:
    QWidget *window;
    QTimer tick;
    QElapsedTimer asked;
    std::vector<double> waits;
};

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QString summary(std::vector<double> waits)
{
    if (waits.empty())
        return QStringLiteral("no paint");
    std::sort(waits.begin(), waits.end());
    const auto at = [&](double q) { return waits[std::min(waits.size() - 1, size_t(q * waits.size()))]; };
    return QStringLiteral("%1 repaints, median %2 ms, p99 %3 ms, max %4 ms")
        .arg(waits.size()).arg(at(0.5), 0, 'f', 2).arg(at(0.99), 0, 'f', 2).arg(waits.back(), 0, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly bench"));
    QApplication app(argc, argv);
    int clients = 32;
    int seconds = 10;
    int mib = 64;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--clients"))
            clients = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--seconds"))
            seconds = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--size"))
            mib = args.at(i + 1).toInt();
    }

    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    // The servers that start ask no outside service; QR codes would be made here.
    for (const char *service : {"TESSALY_PORTCHECK_URL", "TESSALY_DDNS_URL", "TESSALY_QR_URL"})
        qputenv(service, "");
    Startup::prepare(app);
    QDir(home.path()).mkpath(QStringLiteral("share"));
    const QString share = home.path() + QStringLiteral("/share");
    {
        QFile big(share + QStringLiteral("/big.bin"));
        if (!big.open(QIODevice::WriteOnly) || !big.resize(qint64(mib) * 1024 * 1024))
            return 1;
    }
    Configuration global;
    global.load(Configuration::ConfigDir + QStringLiteral("Global.conf"));
    global.expertMode = true;
    global.profileName = QStringLiteral("Default");
    global.save();

    FixedAddresses loopback({QStringLiteral("127.0.0.1")});
    AddressSource::install(&loopback);
    MobileWebServer window{QString()};
    window.resize(600, 480);
    ServerItem *item = window.addresses()->getServer(0);
    window.fileOrDirSelected(share);
    item->webServer->port = 0;
    if (!item->start())
        return 1;
    const quint16 port = item->webServer->serverPort();

    QTextStream out(stdout);
    Probe probe(&window);
    wait(seconds * 1000 / 2);
    out << "idle: " << summary(probe.take()) << Qt::endl;

    std::atomic<qint64> bytes{0};
    std::atomic<int> answers{0};
    QThread clientThread;
    std::vector<Downloader *> downloaders;
    for (int i = 0; i < clients; ++i) {
        auto *d = new Downloader(port, &bytes, &answers);
        d->moveToThread(&clientThread);
        downloaders.push_back(d);
        QObject::connect(&clientThread, &QThread::started, d, &Downloader::start);
        QObject::connect(&clientThread, &QThread::finished, d, &QObject::deleteLater);
    }
    clientThread.start();
    wait(1000);
    probe.take();
    const qint64 before = bytes;
    QElapsedTimer loaded;
    loaded.start();
    wait(seconds * 1000);
    const double rate = (bytes - before) / 1e6 / (loaded.nsecsElapsed() / 1e9);
    out << clients << " clients downloading (" << QString::number(rate, 'f', 0) << " MB/s, " << answers
        << " files): " << summary(probe.take()) << Qt::endl;
    clientThread.quit();
    clientThread.wait();
    item->stopAll();
    AddressSource::install(nullptr);
    return 0;
}
