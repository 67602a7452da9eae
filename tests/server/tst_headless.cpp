// The program without a window: options refused (a port that is taken among them), options that
// reach the server and the URL it prints, the warning about an open share on the network,
// signals, HTTPS, and a profile that is read but never rewritten.

#include "httpclient.h"
#include "testserver.h"

#include "config/configuration.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QByteArray TextA = "contents of a";

// Options written as one string, split at blanks; SHARE stands for the shared folder.
QStringList options(const QByteArray &text, const QString &share)
{
    return QString::fromUtf8(text).replace(QStringLiteral("SHARE"), share).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
    void optionsReachTheServer_data();
    void optionsReachTheServer();
    void httpsMakesTheUsersKeyPairOnceAndKeepsIt();

private:
    // Starts the server on `address` and returns the port of the URL it printed (0 on failure).
    quint16 start(const QByteArray &text, const QString &address = QStringLiteral("127.0.0.1"));
    bool stop(int signal = SIGTERM);
    QString share() const { return home->path() + QStringLiteral("/share"); }

    QTemporaryDir *home = nullptr;
    QProcess *process = nullptr;
    QString printedUrl;
};

void TestHeadless::init()
{
    QVERIFY2(QFileInfo(TestServer::program()).isExecutable(), qPrintable(TestServer::program()));
    home = new QTemporaryDir;
    TestServer::writeFile(share() + QStringLiteral("/a.txt"), TextA);
    process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home->path());
    process->setProcessEnvironment(env);
    process->setProgram(TestServer::program());
    // A profile as the window saves it.
    const QString savedDir = Configuration::ConfigDir;
    Configuration::ConfigDir = home->path() + QStringLiteral("/.kestrune/");
    QVERIFY(QDir().mkpath(Configuration::ConfigDir));
    Configuration work;
    work.setFileName(QStringLiteral("Work"));
    work.profileName = QStringLiteral("Work");
    work.authMode = AuthMode::Basic;
    work.users = QStringList{QStringLiteral("anna:s3cret")};
    work.port = 1;
    const bool saved = work.save();
    Configuration::ConfigDir = savedDir;
    QVERIFY(saved);
}

void TestHeadless::cleanup()
{
    delete process; // killed if it still runs
    delete home;
    printedUrl.clear();
}

quint16 TestHeadless::start(const QByteArray &text, const QString &address)
{
    process->setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--address"), address}
                          + options(text, share()));
    process->start();
    const QRegularExpression url(QStringLiteral("^(https?)://\\[?") + QRegularExpression::escape(address)
                                 + QStringLiteral("\\]?:(\\d+)/$"));
    while (process->waitForReadyRead(10000) || process->canReadLine()) {
        while (process->canReadLine()) {
            printedUrl = QString::fromLocal8Bit(process->readLine()).trimmed();
            if (url.match(printedUrl).hasMatch())
                return quint16(url.match(printedUrl).captured(2).toUInt());
        }
    }
    return 0;
}

bool TestHeadless::stop(int signal)
{
    ::kill(pid_t(process->processId()), signal);
    return process->waitForFinished(10000) && process->exitStatus() == QProcess::NormalExit
           && process->exitCode() == 0;
}

void TestHeadless::badOptionsAreRefused_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("said"); // part of the message, when it matters

    const QString any;
    QTest::addRow("port out of range") << QStringLiteral("--port 70000") << any;
    QTest::addRow("unknown page style") << QStringLiteral("--pages modern") << QStringLiteral("--pages");
    QTest::addRow("user without a password") << QStringLiteral("--auth basic --user anna") << any;
    QTest::addRow("share that does not exist") << QStringLiteral("--share /no/such/folder") << any;
    QTest::addRow("address that is not one") << QStringLiteral("--address localhost.invalid") << any;
    // Access that would look closed and is not: everyone gets in, or nobody does.
    QTest::addRow("password mode without a password") << QStringLiteral("--auth password") << QStringLiteral("--password");
    QTest::addRow("password mode with an empty password") << QStringLiteral("--auth password --password")
                                                          << QStringLiteral("--password");
    QTest::addRow("basic mode without a user") << QStringLiteral("--auth basic") << QStringLiteral("--user");
    QTest::addRow("port that is taken") << QStringLiteral("--share SHARE --port TAKEN")
                                        << QStringLiteral("port TAKEN: the bound address is already in use");
}

void TestHeadless::badOptionsAreRefused()
{
    QFETCH(QString, given);
    QFETCH(QString, said);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    given.replace(QStringLiteral("TAKEN"), QString::number(taken.serverPort()));
    said.replace(QStringLiteral("TAKEN"), QString::number(taken.serverPort()));
    QStringList arguments = options(given.toUtf8(), share());
    if (given.endsWith(QLatin1String("--password")))
        arguments.append(QString());
    process->setArguments(options("--headless --port 0 --address 127.0.0.1", share()) + arguments);
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QVERIFY(process->exitCode() != 0);
    const QString error = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(said, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(process->readAllStandardOutput().isEmpty());
}

void TestHeadless::optionsReachTheServer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // part of it
    QTest::addColumn<int>("signal");        // that ends the program
    QTest::addColumn<QString>("warning");   // what the warning says everyone can do; empty: none
    const auto row = [](const char *name, const char *address, const QByteArray &given, const QByteArray &request,
                        const QByteArray &answer, int signal = SIGTERM, const char *warning = "") {
        QTest::addRow("%s", name) << QString::fromLatin1(address) << given << request << answer << signal
                                  << QString::fromLatin1(warning);
    };

    const char *const loopback = "127.0.0.1";
    const QByteArray get = "GET /a.txt HTTP/1.1\r\n";
    row("open", loopback, "--share SHARE", get + "\r\n", TextA, SIGINT);
    row("an allowed name", loopback, "--share SHARE --allow-host nas.home --allow-host files.example",
        get + "Host: nas.home\r\n\r\n", TextA);
    row("another name", loopback, "--share SHARE --allow-host nas.home", get + "Host: evil.example\r\n\r\n", "HTTP/1.1 421");
    row("Basic, a user of the options", loopback, "--share SHARE --auth basic --user a:b",
        get + "Authorization: Basic YTpi\r\n\r\n", TextA);
    row("password, the login page", loopback, "--share SHARE --auth password --password X", get + "\r\n",
        "name=\"password\"");
    row("password, logged in", loopback, "--share SHARE --auth password --password X",
        "GET /a.txt?a=log&password=X HTTP/1.1\r\n\r\n", TextA);
    row("one shared file", loopback, "--share SHARE/a.txt", "GET / HTTP/1.1\r\n\r\n", "filename=\"a.txt\"");
    // The saved profile Work (Basic access for anna) is used, changed in memory by the options.
    const QByteArray work = "--share SHARE --profile Work --user bob:pw --no-upload --session-lifetime 5";
    row("a profile, no credentials", loopback, work, get + "\r\n", "HTTP/1.1 401");
    row("a profile, a user of the options", loopback, work, get + "Authorization: Basic Ym9iOnB3\r\n\r\n", TextA);
    // An open share that anyone on the network can change is warned of.
    const char *const all = "0.0.0.0";
    const QByteArray root = "GET / HTTP/1.1\r\nAuthorization: Basic YTpi\r\n\r\n";
    row("every address, open, upload and delete", all, "--share SHARE", root, "HTTP/1.1 200", SIGTERM,
        "upload to and delete in");
    row("every address, open, no upload", all, "--share SHARE --no-upload", root, "HTTP/1.1 200", SIGTERM, "delete in");
    row("every address, password", all, "--share SHARE --auth password --password b", root, "HTTP/1.1 200");
}

void TestHeadless::optionsReachTheServer()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, given);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(int, signal);
    QFETCH(QString, warning);
    const QString profile = home->path() + QStringLiteral("/.kestrune/Work.cnf");
    const QByteArray bytes = TestServer::readFile(profile);
    const QDateTime time = QFileInfo(profile).lastModified();

    const quint16 port = start(given + " --port 0", address);
    QVERIFY(port > 0);
    QCOMPARE(printedUrl, QStringLiteral("http://%1:%2/").arg(address).arg(port));
    // With the connection still open when the signal comes.
    HttpClient client;
    QVERIFY(client.connectTo(port));
    client.send(request);
    QVERIFY(HttpClient::waitUntil([&] { return client.pending().contains(answer); }));
    QVERIFY(stop(signal));

    const QString errors = QString::fromLocal8Bit(process->readAllStandardError());
    const QStringList lines = errors.split(u'\n', Qt::SkipEmptyParts);
    if (warning.isEmpty())
        QVERIFY2(lines.filter(QStringLiteral("warning")).isEmpty(), qPrintable(errors));
    else
        QVERIFY2(lines.size() == 1 && lines.first().contains(QStringLiteral("warning"))
                     && lines.first().contains(QStringLiteral(" can ") + warning + u' ' + share()),
                 qPrintable(errors));
    // The profile is read, never rewritten.
    QCOMPARE(TestServer::readFile(profile), bytes);
    QCOMPARE(QFileInfo(profile).lastModified(), time);
}

void TestHeadless::httpsMakesTheUsersKeyPairOnceAndKeepsIt()
{
    const QString configDir = home->path() + QStringLiteral("/.kestrune");
    const QString keyFile = configDir + QStringLiteral("/ssl.pem");
    QByteArray first;
    for (int round = 1; round <= 2; ++round) {
        const quint16 port = start("--share SHARE --port 0 --https");
        QVERIFY(port > 0);
        QCOMPARE(printedUrl, QStringLiteral("https://127.0.0.1:%1/").arg(port));

        // Private to the user, encrypted, alone in the profile folder (no temporary file left),
        // and the same file the second time.
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(keyFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{QStringLiteral("ssl.pem"), QStringLiteral("Work.cnf")}));
        const QByteArray bytes = TestServer::readFile(keyFile);
        QVERIFY(QSslKey(bytes, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, "").isNull());
        const QByteArray seen = QByteArray::number(quint64(info.st_ino)) + ' ' + bytes;
        if (round == 1)
            first = seen;
        QCOMPARE(seen, first);

        // A client that trusts this certificate alone verifies the server under each of its names.
        const QSslCertificate certificate = QSslCertificate::fromData(bytes, QSsl::Pem).value(0);
        for (const QString &name : {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QSysInfo::machineHostName()}) {
            HttpClient client;
            QSslConfiguration tls = client.socket.sslConfiguration();
            tls.setCaCertificates({certificate});
            tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
            client.socket.setSslConfiguration(tls);
            client.socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, name);
            QVERIFY2(HttpClient::waitUntil([&] { return client.socket.isEncrypted() || client.isClosed(); })
                         && client.socket.isEncrypted(),
                     qPrintable(name));
            QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
        }
        QVERIFY(stop());
    }
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
