// The program without a window: options, the URL it prints, serving over HTTP and HTTPS, a port
// that is taken, signals, and profiles that are read but never rewritten.

#include "httpclient.h"
#include "testserver.h"
#include "qrdecoder.h"

#include "config/configuration.h"

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
    QStringList list = QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
    list.replaceInStrings(QStringLiteral("SHARE"), share);
    return list;
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void helpExitsZero();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
    void takenPortPrintsTheReasonAndFails();
    void optionsReachTheServer_data();
    void optionsReachTheServer();
    void httpsMakesTheUsersKeyPairOnceAndKeepsIt();
    void qrCodesInTheTerminal();
    void profilesAreReadButNeverRewritten();
    void openWritableShareOnTheNetworkIsWarnedOf_data();
    void openWritableShareOnTheNetworkIsWarnedOf();

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
}

void TestHeadless::cleanup()
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    delete process;
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
            const QString line = QString::fromLocal8Bit(process->readLine()).trimmed();
            const QRegularExpressionMatch match = url.match(line);
            if (match.hasMatch()) {
                printedUrl = line;
                return quint16(match.captured(2).toUInt());
            }
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

void TestHeadless::helpExitsZero()
{
    process->setArguments({QStringLiteral("--help")});
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitCode(), 0);
    QVERIFY(process->readAllStandardOutput().contains("--allow-host"));
}

void TestHeadless::badOptionsAreRefused_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("said"); // part of the message, when it matters

    const QString any;
    QTest::addRow("unknown option") << QStringLiteral("--frobnicate") << any;
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
}

void TestHeadless::badOptionsAreRefused()
{
    QFETCH(QString, given);
    QFETCH(QString, said);
    QStringList arguments = given.split(u' ');
    if (given.endsWith(QLatin1String("--password")))
        arguments.append(QString());
    process->setArguments(options("--headless --port 0 --address 127.0.0.1", share()) + arguments);
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QVERIFY(process->exitCode() != 0);
    const QString error = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(said), qPrintable(error));
    QVERIFY(!process->readAllStandardOutput().contains("http"));
}

void TestHeadless::takenPortPrintsTheReasonAndFails()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    const QString port = QString::number(taken.serverPort());
    process->setArguments(options("--headless --share SHARE --address 127.0.0.1 --port", share()) << port);
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QVERIFY(process->exitCode() != 0);
    const QString error = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY2(error.contains(port) && error.contains(QStringLiteral("in use"), Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(process->readAllStandardOutput().isEmpty());
}

void TestHeadless::optionsReachTheServer_data()
{
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // part of it
    QTest::addColumn<int>("signal");        // that ends the program

    const QByteArray get = "GET /a.txt HTTP/1.1\r\n";
    QTest::addRow("open") << QByteArray("--share SHARE") << get + "\r\n" << TextA << int(SIGINT);
    QTest::addRow("an allowed name") << QByteArray("--share SHARE --allow-host nas.home --allow-host files.example")
                                     << get + "Host: nas.home\r\n\r\n" << TextA << int(SIGTERM);
    QTest::addRow("another name") << QByteArray("--share SHARE --allow-host nas.home") << get + "Host: evil.example\r\n\r\n"
                                  << QByteArray("HTTP/1.1 421") << int(SIGTERM);
    QTest::addRow("Basic, no credentials") << QByteArray("--share SHARE --auth basic --user a:b") << get + "\r\n"
                                           << QByteArray("HTTP/1.1 401") << int(SIGTERM);
    QTest::addRow("Basic, a user of the options") << QByteArray("--share SHARE --auth basic --user a:b")
                                                  << get + "Authorization: Basic YTpi\r\n\r\n" << TextA << int(SIGTERM);
    QTest::addRow("password, the login page") << QByteArray("--share SHARE --auth password --password X") << get + "\r\n"
                                              << QByteArray("name=\"password\"") << int(SIGTERM);
    QTest::addRow("password, logged in") << QByteArray("--share SHARE --auth password --password X")
                                         << QByteArray("GET /a.txt?a=log&password=X HTTP/1.1\r\n\r\n") << TextA << int(SIGTERM);
    QTest::addRow("one shared file") << QByteArray("--share SHARE/a.txt") << QByteArray("GET / HTTP/1.1\r\n\r\n")
                                     << QByteArray("filename=\"a.txt\"") << int(SIGTERM);
}

void TestHeadless::optionsReachTheServer()
{
    QFETCH(QByteArray, given);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(int, signal);
    const quint16 port = start(given + " --port 0");
    QVERIFY(port > 0);
    QCOMPARE(printedUrl, QStringLiteral("http://127.0.0.1:%1/").arg(port));
    // With the connection still open when the signal comes.
    HttpClient client;
    QVERIFY(client.connectTo(port));
    client.send(request);
    QVERIFY(HttpClient::waitUntil([&] { return client.pending().contains(answer); }));
    QVERIFY(stop(signal));
}

void TestHeadless::httpsMakesTheUsersKeyPairOnceAndKeepsIt()
{
    const QString configDir = home->path() + QStringLiteral("/.kestrune");
    const QString keyFile = configDir + QStringLiteral("/ssl.pem");
    QByteArray firstBytes;
    ino_t firstInode = 0;
    for (int round = 1; round <= 2; ++round) {
        const quint16 port = start("--share SHARE --port 0 --https");
        QVERIFY(port > 0);
        QCOMPARE(printedUrl, QStringLiteral("https://127.0.0.1:%1/").arg(port));

        // Private to the user, encrypted, alone in the profile folder (no temporary file left),
        // and the same file the second time.
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(keyFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("ssl.pem")});
        const QByteArray bytes = TestServer::readFile(keyFile);
        QVERIFY(QSslKey(bytes, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, "").isNull());
        if (round == 1) {
            firstBytes = bytes;
            firstInode = info.st_ino;
        }
        QCOMPARE(bytes, firstBytes);
        QCOMPARE(info.st_ino, firstInode);

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

void TestHeadless::profilesAreReadButNeverRewritten()
{
    // A profile as the window saves it.
    const QString configDir = home->path() + QStringLiteral("/.kestrune/");
    QVERIFY(QDir().mkpath(configDir));
    const QString savedDir = Configuration::ConfigDir;
    Configuration::ConfigDir = configDir;
    Configuration work;
    work.setFileName(QStringLiteral("Work"));
    work.profileName = QStringLiteral("Work");
    work.authMode = AuthMode::Basic;
    work.users = QStringList{QStringLiteral("anna:s3cret")};
    work.port = 1;
    QVERIFY(work.save());
    Configuration::ConfigDir = savedDir;
    const QString file = configDir + QStringLiteral("Work.cnf");
    const QByteArray bytes = TestServer::readFile(file);
    const QDateTime time = QFileInfo(file).lastModified();
    const QStringList files = QDir(configDir).entryList(QDir::Files | QDir::Hidden);

    // The saved profile is used (Basic access), changed in memory by the options.
    const quint16 port = start("--share SHARE --port 0 --profile Work --user bob:pw --no-upload --session-lifetime 5");
    QVERIFY(port > 0);
    HttpClient client(port);
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").code, 401);
    HttpClient bob(port);
    QCOMPARE(bob.exchange("GET /a.txt HTTP/1.1\r\nAuthorization: Basic " + QByteArray("bob:pw").toBase64() + "\r\n\r\n").body, TextA);
    QVERIFY(stop());

    QCOMPARE(TestServer::readFile(file), bytes);
    QCOMPARE(QFileInfo(file).lastModified(), time);
    QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden), files);
}

void TestHeadless::qrCodesInTheTerminal()
{
    QVERIFY(start("--share SHARE --port 0 --qr") > 0);
    // The code follows its URL, up to an empty line, in plain characters when the output is no
    // terminal.
    QString code;
    bool ended = false;
    while (!ended && (process->canReadLine() || process->waitForReadyRead(10000))) {
        while (!ended && process->canReadLine()) {
            const QString line = QString::fromUtf8(process->readLine()).chopped(1);
            ended = line.isEmpty();
            code += line + u'\n';
        }
    }
    QVERIFY(ended);
    QVERIFY(!code.contains(u'\033'));
    QString error;
    QCOMPARE(QrDecoder::decode(QrDecoder::fromTerminal(code), &error), printedUrl);
    QVERIFY(stop());
}

void TestHeadless::openWritableShareOnTheNetworkIsWarnedOf_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QString>("warning"); // empty: no warning

    const QString all = QStringLiteral("0.0.0.0");
    const QByteArray share = "--share SHARE";
    QTest::addRow("every address, open, upload and delete") << all << share << QStringLiteral("upload to and delete in");
    QTest::addRow("every address, open, no upload") << all << share + " --no-upload" << QStringLiteral("delete in");
    QTest::addRow("every address, open, read only") << all << share + " --no-upload --no-delete" << QString();
    QTest::addRow("every address, password") << all << share + " --auth password --password b" << QString();
    QTest::addRow("every address, one shared file") << all << QByteArray("--share SHARE/a.txt") << QString();
    QTest::addRow("loopback, open, upload and delete") << QStringLiteral("127.0.0.1") << share << QString();
}

void TestHeadless::openWritableShareOnTheNetworkIsWarnedOf()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, given);
    QFETCH(QString, warning);

    const quint16 port = start(given + " --port 0", address);
    QVERIFY(port > 0);
    // Served, and only then stopped: whatever the server says about this share is said by now.
    HttpClient client(port);
    QVERIFY(client.exchange("GET / HTTP/1.1\r\nAuthorization: Basic YTpi\r\n\r\n").code == 200);
    QVERIFY(stop());

    const QString errors = QString::fromLocal8Bit(process->readAllStandardError());
    const QStringList lines = errors.split(u'\n', Qt::SkipEmptyParts);
    if (warning.isEmpty()) {
        QVERIFY2(lines.filter(QStringLiteral("warning")).isEmpty(), qPrintable(errors));
        return;
    }
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(QStringLiteral("warning")) && lines.first().contains(QStringLiteral(" can ") + warning + u' ' + share()),
             qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
