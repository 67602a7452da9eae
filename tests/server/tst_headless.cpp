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

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void helpExitsZero();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
    void takenPortPrintsTheReasonAndFails();
    void portZeroPrintsTheUrlAndServes();
    void basicAuthenticationRefusesWithoutCredentials();
    void passwordModeShowsTheLoginPage();
    void httpsMakesTheUsersKeyPairOnceAndKeepsIt();
    void signalEndsWithExitCodeZero_data();
    void signalEndsWithExitCodeZero();
    void singleFileCanBeShared();
    void qrCodesInTheTerminal();
    void profilesAreReadButNeverRewritten();
    void openWritableShareOnTheNetworkIsWarnedOf_data();
    void openWritableShareOnTheNetworkIsWarnedOf();

private:
    // Starts the server on `address` and returns the port of the URL it printed (0 on failure).
    quint16 start(const QStringList &options, const QString &address = QStringLiteral("127.0.0.1"));
    bool stop(int signal = SIGTERM);
    // Waits until the server has written `text` to its error output.
    bool saysOnStderr(const QString &text);

    QTemporaryDir *home = nullptr;
    QProcess *process = nullptr;
    QString printedUrl;
    QString errors;
};

void TestHeadless::initTestCase()
{
    QVERIFY2(QFileInfo(TestServer::program()).isExecutable(), qPrintable(TestServer::program()));
}

void TestHeadless::init()
{
    home = new QTemporaryDir;
    QDir(home->path()).mkpath(QStringLiteral("share"));
    QFile file(home->path() + QStringLiteral("/share/a.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(TextA);
    file.close();
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
    process = nullptr;
    delete home;
    home = nullptr;
    errors.clear();
    printedUrl.clear();
}

quint16 TestHeadless::start(const QStringList &options, const QString &address)
{
    process->setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--address"), address} + options);
    process->start();
    if (!process->waitForStarted(5000))
        return 0;
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

bool TestHeadless::saysOnStderr(const QString &text)
{
    return HttpClient::waitUntil([&] {
        errors += QString::fromLocal8Bit(process->readAllStandardError());
        return errors.contains(text);
    });
}

void TestHeadless::helpExitsZero()
{
    process->setArguments({QStringLiteral("--help")});
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitCode(), 0);
    const QByteArray usage = process->readAllStandardOutput();
    for (const char *option : {"--headless", "--share", "--address", "--port", "--auth", "--user", "--https", "--limit-kb", "--qr",
                               "--allow-host", "--pages"})
        QVERIFY2(usage.contains(option), option);
}

void TestHeadless::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("said"); // part of the message, when it matters

    const QString any;
    QTest::addRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << any;
    QTest::addRow("port out of range") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")} << any;
    QTest::addRow("unknown access mode") << QStringList{QStringLiteral("--auth"), QStringLiteral("open")} << any;
    QTest::addRow("unknown page style") << QStringList{QStringLiteral("--pages"), QStringLiteral("modern")}
                                        << QStringLiteral("--pages");
    QTest::addRow("user without a password") << QStringList{QStringLiteral("--auth"), QStringLiteral("basic"), QStringLiteral("--user"), QStringLiteral("anna")} << any;
    QTest::addRow("share that does not exist") << QStringList{QStringLiteral("--share"), QStringLiteral("/no/such/folder")} << any;
    QTest::addRow("address that is not one") << QStringList{QStringLiteral("--address"), QStringLiteral("localhost.invalid")} << any;
    // Access that would look closed and is not: everyone gets in, or nobody does.
    QTest::addRow("password mode without a password")
        << QStringList{QStringLiteral("--auth"), QStringLiteral("password")} << QStringLiteral("--password");
    QTest::addRow("password mode with an empty password")
        << QStringList{QStringLiteral("--auth"), QStringLiteral("password"), QStringLiteral("--password"), QString()}
        << QStringLiteral("--password");
    QTest::addRow("basic mode without a user") << QStringList{QStringLiteral("--auth"), QStringLiteral("basic")}
                                               << QStringLiteral("--user");
}

void TestHeadless::badOptionsAreRefused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, said);
    process->setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("0"),
                                      QStringLiteral("--address"), QStringLiteral("127.0.0.1")}
                          + options);
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
    process->setArguments({QStringLiteral("--headless"), QStringLiteral("--share"), home->path() + QStringLiteral("/share"),
                           QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), port});
    process->start();
    QVERIFY(process->waitForFinished(10000));
    QVERIFY(process->exitCode() != 0);
    const QString error = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY2(error.contains(port) && error.contains(QStringLiteral("in use"), Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(process->readAllStandardOutput().isEmpty());
}

void TestHeadless::portZeroPrintsTheUrlAndServes()
{
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--allow-host"), QStringLiteral("files.example"),
                                QStringLiteral("--allow-host"), QStringLiteral("nas.home")});
    QVERIFY(port > 0);
    QCOMPARE(printedUrl, QStringLiteral("http://127.0.0.1:%1/").arg(port));

    // An open share answers to its own names and those allowed, not to any other.
    for (const char *host : {"nas.home", "files.example", "evil.example"}) {
        HttpClient named;
        QVERIFY(named.connectTo(port));
        QCOMPARE(named.exchange("GET /a.txt HTTP/1.1\r\nHost: " + QByteArray(host) + "\r\n\r\n").code,
                 qstrcmp(host, "evil.example") == 0 ? 421 : 200);
    }

    HttpClient client;
    QVERIFY(client.connectTo(port));
    const HttpReply reply = client.exchange("GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: curl/7.88.1\r\nAccept: */*\r\n\r\n");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, TextA);
    QCOMPARE(reply.header("Server"), QByteArray("Kestrune_4"));
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\nRange: bytes=9-\r\n\r\n").body, TextA.mid(9));
    QCOMPARE(client.exchange("GET /nothing HTTP/1.1\r\n\r\n").code, 404);
    QVERIFY(stop());
}

void TestHeadless::basicAuthenticationRefusesWithoutCredentials()
{
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--auth"), QStringLiteral("basic"), QStringLiteral("--user"), QStringLiteral("a:b")});
    QVERIFY(port > 0);
    HttpClient refused;
    QVERIFY(refused.connectTo(port));
    QCOMPARE(refused.exchange("GET /a.txt HTTP/1.1\r\n\r\n").status, QByteArray("401 Authorization Required"));
    HttpClient served;
    QVERIFY(served.connectTo(port));
    QCOMPARE(served.exchange("GET /a.txt HTTP/1.1\r\nAuthorization: Basic " + QByteArray("a:b").toBase64() + "\r\n\r\n").body, TextA);
    QVERIFY(stop());
}

void TestHeadless::passwordModeShowsTheLoginPage()
{
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--auth"), QStringLiteral("password"), QStringLiteral("--password"), QStringLiteral("X")});
    QVERIFY(port > 0);
    HttpClient client;
    QVERIFY(client.connectTo(port));
    QVERIFY(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body.contains("name=\"password\""));
    HttpClient login;
    QVERIFY(login.connectTo(port));
    QCOMPARE(login.exchange("GET /a.txt?a=log&password=X HTTP/1.1\r\n\r\n").body, TextA);
    QVERIFY(stop());
}

void TestHeadless::httpsMakesTheUsersKeyPairOnceAndKeepsIt()
{
    const QString configDir = home->path() + QStringLiteral("/.kestrune");
    const QString keyFile = configDir + QStringLiteral("/ssl.pem");
    const QString hostName = QSysInfo::machineHostName();
    QByteArray firstBytes;
    ino_t firstInode = 0;
    for (int round = 1; round <= 2; ++round) {
        const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"),
                                    QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--https")});
        QVERIFY(port > 0);
        QCOMPARE(printedUrl, QStringLiteral("https://127.0.0.1:%1/").arg(port));

        // Private to the user, complete, alone in the profile folder (no temporary file left).
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(keyFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("ssl.pem")});
        const QByteArray bytes = TestServer::readFile(keyFile);
        const QList<QSslCertificate> certificates = QSslCertificate::fromData(bytes, QSsl::Pem);
        QCOMPARE(certificates.size(), 1);
        const QSslCertificate certificate = certificates.first();
        QVERIFY(certificate.isSelfSigned());
        QCOMPARE(certificate.subjectInfo(QSslCertificate::CommonName),
                 QStringList{hostName.isEmpty() ? QStringLiteral("localhost") : hostName});
        QVERIFY(certificate.expiryDate() > QDateTime::currentDateTime().addYears(5));
        const QSslKey key(bytes, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, "k4m5n6");
        QVERIFY(!key.isNull());
        QVERIFY(key.length() >= 2048);
        QVERIFY(QSslKey(bytes, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, "").isNull()); // encrypted
        if (round == 1) {
            firstBytes = bytes;
            firstInode = info.st_ino;
        } else {
            QCOMPARE(bytes, firstBytes);
            QCOMPARE(info.st_ino, firstInode);
        }

        // A client that trusts this certificate alone verifies the server under each of its names.
        QStringList names = {QStringLiteral("localhost"), QStringLiteral("127.0.0.1")};
        if (!hostName.isEmpty() && hostName != QLatin1String("localhost"))
            names.append(hostName);
        for (const QString &name : std::as_const(names)) {
            HttpClient client;
            QSslConfiguration tls = client.socket.sslConfiguration();
            tls.setCaCertificates({certificate});
            tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
            client.socket.setSslConfiguration(tls);
            client.socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, name);
            QVERIFY2(HttpClient::waitUntil([&] { return client.socket.isEncrypted() || client.isClosed(); })
                         && client.socket.isEncrypted(),
                     qPrintable(name));
            QCOMPARE(client.socket.peerCertificate(), certificate);
            QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
        }
        QVERIFY(stop());
        QVERIFY2(!errors.contains(QStringLiteral("HTTPS")), qPrintable(errors));
    }
}

void TestHeadless::signalEndsWithExitCodeZero_data()
{
    QTest::addColumn<int>("signal");
    QTest::addRow("SIGTERM") << int(SIGTERM);
    QTest::addRow("SIGINT") << int(SIGINT);
}

void TestHeadless::signalEndsWithExitCodeZero()
{
    QFETCH(int, signal);
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"), QStringLiteral("0")});
    QVERIFY(port > 0);
    // With a connection open.
    HttpClient client;
    QVERIFY(client.connectTo(port));
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    QVERIFY(stop(signal));
}

void TestHeadless::singleFileCanBeShared()
{
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share/a.txt"), QStringLiteral("--port"), QStringLiteral("0")});
    QVERIFY(port > 0);
    HttpClient client;
    QVERIFY(client.connectTo(port));
    const HttpReply reply = client.exchange("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.body, TextA);
    QCOMPARE(reply.header("Content-Disposition"), QByteArray("attachment; filename=\"a.txt\""));
    QVERIFY(stop());
}

void TestHeadless::profilesAreReadButNeverRewritten()
{
    // Two profiles as the window saves them.
    const QString configDir = home->path() + QStringLiteral("/.kestrune/");
    QVERIFY(QDir().mkpath(configDir));
    const QString savedDir = Configuration::ConfigDir;
    Configuration::ConfigDir = configDir;
    Configuration global;
    global.load(configDir + QStringLiteral("Global.conf")); // missing: defaults, and the name to save under
    global.port = 1;
    global.profileName = QStringLiteral("Default");
    QVERIFY(global.save());
    Configuration work;
    work.setFileName(QStringLiteral("Work"));
    work.profileName = QStringLiteral("Work");
    work.authMode = AuthMode::Basic;
    work.users = QStringList{QStringLiteral("anna:s3cret")};
    work.port = 1;
    QVERIFY(work.save());
    Configuration::ConfigDir = savedDir;
    const QByteArray globalBytes = TestServer::readFile(configDir + QStringLiteral("Global.conf"));
    const QByteArray workBytes = TestServer::readFile(configDir + QStringLiteral("Work.cnf"));
    const QDateTime globalTime = QFileInfo(configDir + QStringLiteral("Global.conf")).lastModified();
    const QDateTime workTime = QFileInfo(configDir + QStringLiteral("Work.cnf")).lastModified();
    QVERIFY(!globalBytes.isEmpty() && !workBytes.isEmpty());
    const QStringList files = QDir(configDir).entryList(QDir::Files | QDir::Hidden);

    // The saved profile is used (Basic access), changed in memory by the options.
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--profile"), QStringLiteral("Work"), QStringLiteral("--user"), QStringLiteral("bob:pw"),
                                QStringLiteral("--no-upload"), QStringLiteral("--session-lifetime"), QStringLiteral("5")});
    QVERIFY(port > 0);
    HttpClient client;
    QVERIFY(client.connectTo(port));
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").code, 401);
    HttpClient bob;
    QVERIFY(bob.connectTo(port));
    QCOMPARE(bob.exchange("GET /a.txt HTTP/1.1\r\nAuthorization: Basic " + QByteArray("bob:pw").toBase64() + "\r\n\r\n").body, TextA);
    QVERIFY(stop());

    QCOMPARE(TestServer::readFile(configDir + QStringLiteral("Global.conf")), globalBytes);
    QCOMPARE(TestServer::readFile(configDir + QStringLiteral("Work.cnf")), workBytes);
    QCOMPARE(QFileInfo(configDir + QStringLiteral("Global.conf")).lastModified(), globalTime);
    QCOMPARE(QFileInfo(configDir + QStringLiteral("Work.cnf")).lastModified(), workTime);
    QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden), files);
}

void TestHeadless::qrCodesInTheTerminal()
{
    const quint16 port = start({QStringLiteral("--share"), home->path() + QStringLiteral("/share"), QStringLiteral("--port"),
                                QStringLiteral("0"), QStringLiteral("--qr")});
    QVERIFY(port > 0);
    // The code follows its URL, up to an empty line.
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
    // Plain characters when the output is no terminal.
    QVERIFY(!code.contains(u'\033'));
    QString error;
    QCOMPARE(QrDecoder::decode(QrDecoder::fromTerminal(code), &error), printedUrl);
    QVERIFY(stop());
}

void TestHeadless::openWritableShareOnTheNetworkIsWarnedOf_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("warning"); // empty: no warning

    const QString all = QStringLiteral("0.0.0.0");
    QTest::addRow("every address, open, upload and delete") << all << QStringList() << QStringLiteral("upload to and delete in");
    QTest::addRow("every address, open, no upload") << all << QStringList{QStringLiteral("--no-upload")} << QStringLiteral("delete in");
    QTest::addRow("every address, open, no delete") << all << QStringList{QStringLiteral("--no-delete")} << QStringLiteral("upload to");
    QTest::addRow("every address, open, read only")
        << all << QStringList{QStringLiteral("--no-upload"), QStringLiteral("--no-delete")} << QString();
    QTest::addRow("every address, password")
        << all << QStringList{QStringLiteral("--auth"), QStringLiteral("password"), QStringLiteral("--password"), QStringLiteral("b")} << QString();
    QTest::addRow("every address, basic")
        << all << QStringList{QStringLiteral("--auth"), QStringLiteral("basic"), QStringLiteral("--user"), QStringLiteral("a:b")} << QString();
    QTest::addRow("every address, one shared file") << all << QStringList{QStringLiteral("--share"), QStringLiteral("FILE")} << QString();
    QTest::addRow("loopback, open, upload and delete") << QStringLiteral("127.0.0.1") << QStringList() << QString();
    QTest::addRow("IPv6 loopback, open, upload and delete") << QStringLiteral("::1") << QStringList() << QString();
}

void TestHeadless::openWritableShareOnTheNetworkIsWarnedOf()
{
    QFETCH(QString, address);
    QFETCH(QStringList, options);
    QFETCH(QString, warning);
    const QString sharePath = home->path() + QStringLiteral("/share");
    if (options.contains(QStringLiteral("FILE")))
        options.replace(options.indexOf(QStringLiteral("FILE")), sharePath + QStringLiteral("/a.txt"));
    else
        options << QStringLiteral("--share") << sharePath;
    if (address == QLatin1String("::1")) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHostIPv6))
            QSKIP("no IPv6 loopback here");
    }

    const quint16 port = start(options + QStringList{QStringLiteral("--port"), QStringLiteral("0")}, address);
    QVERIFY(port > 0);
    // Served, and only then stopped: whatever the server says about this share is said by now.
    QTcpSocket client;
    client.connectToHost(address == QLatin1String("::1") ? QHostAddress(QHostAddress::LocalHostIPv6)
                                                          : QHostAddress(QHostAddress::LocalHost),
                         port);
    client.write("GET / HTTP/1.1\r\nAuthorization: Basic " + QByteArray("a:b").toBase64() + "\r\n\r\n");
    QByteArray answer;
    QVERIFY(HttpClient::waitUntil([&] {
        answer += client.readAll();
        return answer.contains("\r\n\r\n");
    }));
    QVERIFY2(answer.startsWith("HTTP/1.1 200 "), answer.constData());
    QVERIFY(stop());
    errors += QString::fromLocal8Bit(process->readAllStandardError());

    const QStringList lines = errors.split(u'\n', Qt::SkipEmptyParts);
    const QStringList warnings = lines.filter(QStringLiteral("warning"));
    if (warning.isEmpty()) {
        QVERIFY2(warnings.isEmpty(), qPrintable(errors));
        return;
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(QStringLiteral(" can ") + warning + u' ' + sharePath), qPrintable(errors));
    QCOMPARE(lines.size(), 1);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
